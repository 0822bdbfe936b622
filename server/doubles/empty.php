<?php
// 200 with an empty body.
header('Content-Type: text/plain');
