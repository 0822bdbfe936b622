<?php
// Accepts the request and sends nothing for a minute.
sleep(60);
