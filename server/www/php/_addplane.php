<?php
// data=Costs;Weight;Consumption;Noise;Reliability;Velocity;Range;NAME;FILE;MAIL registers a design
// whose file was uploaded to the FTP storage before. The catalogue takes the name and the numbers
// from the file: the query's are checked for form only.
declare(strict_types=1);
require_once __DIR__ . '/../../lib/designs.php';
require_once __DIR__ . '/../../lib/failures.php';
require_once __DIR__ . '/../../lib/registration.php';
require_once __DIR__ . '/../../lib/settings.php';
require_once __DIR__ . '/../../lib/wire.php';
start_script();
require_get();

$fields = data_fields(10);
foreach (PLANE_NUMBERS as $i => $what) {
    int_field($fields[$i], $what, ...PLANE_NUMBER_RANGE);
}
text_field($fields[7], 'name', MAX_PLANE_NAME);
$file = $fields[8];
$mail = text_field($fields[9], 'mail', MAX_MAIL);
if (!preg_match(PLANE_FILE_PATTERN, $file)) {
    refuse(400, 'file must be hexadecimal digits followed by .plane');
}
if (plane_registered($file)) {
    refuse(409, 'file is already registered', 'binding');
}
if (!is_file(planes_dir() . "/$file")) {
    refuse(400, 'file is not in the storage; upload it first', 'binding');
}
if (store_nearly_full()) {
    refuse(507, STORE_FULL);
}
[$size, $header] = check_upload($file);
$claim = claim_upload($file);
$began = hrtime(true);
add_plane($header['name'], $file, $mail, $header['numbers'], $_SERVER['REMOTE_ADDR'], $size);
@unlink($claim);
plain_headers();
outcome(sprintf('stored %.6f', (hrtime(true) - $began) / 1e9));
echo "registered\n";
