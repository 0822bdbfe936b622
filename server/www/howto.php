<?php
// A short guide: designs in myPlanes, the Starter's buttons, and the mail address.
declare(strict_types=1);
require_once __DIR__ . '/../lib/site.php';
start_page([]);

page_start('How to', 'howto');
?>
<article class="panel prose">
<h1>How to</h1>
<h2 id="myplanes">Where your designs live</h2>
<p>Skyvora keeps every aircraft design as one file ending in <code>.plane</code> in the folder
<code>myPlanes</code> inside the game’s installation folder, the folder that also holds the Starter.
The game finds the designs there at its next start.</p>
<h2 id="get">Getting a design</h2>
<ul>
<li><b>From the Starter:</b> press <i>Download a design</i>, page through the catalogue with the arrow
buttons, pick a design and press the tick. The Starter saves it into <code>myPlanes</code>.</li>
<li><b>From this site:</b> open a design under <a href="/designs.php">Designs</a> and press
<i>Download the design</i>. Save the file into <code>myPlanes</code> under the name offered.</li>
</ul>
<h2 id="share">Sharing a design and a hiscore</h2>
<p>The Starter’s <i>Upload a design</i> button lists the designs in your <code>myPlanes</code> folder; pick
one and press the tick, and every pilot can fetch it. The <i>Hiscore</i> button sends your best score
and tells you the rank it reached; you can look that rank up under <a href="/hiscores.php">Hiscores</a>.</p>
<h2 id="mail">Your mail address</h2>
<p>The address you type under <i>Options</i> in the Starter is sent with every hiscore and design you
upload, and shown beside them here and in every Starter’s design catalogue, for anyone to read. Leave
it empty to stay anonymous: your entries then show “anonymous”. A new address counts for what you
send from then on.</p>
</article>
<?php
page_end();
