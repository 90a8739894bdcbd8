<?php
// A small page showing what the script sees of its request.
$name = isset($_GET['name']) ? $_GET['name'] : 'visitor';
?>
<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>PHP on Zorvane</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<h1>Hello, <?php echo htmlspecialchars($name); ?>!</h1>
<p>PHP <?php echo PHP_VERSION; ?> answered at <?php echo date('Y-m-d H:i:s'); ?>.</p>
<table>
<?php foreach (['REQUEST_METHOD', 'REQUEST_URI', 'SCRIPT_NAME', 'QUERY_STRING', 'REMOTE_ADDR', 'SERVER_SOFTWARE'] as $key): ?>
<tr><th><?php echo $key; ?></th><td><?php echo htmlspecialchars(isset($_SERVER[$key]) ? $_SERVER[$key] : ''); ?></td></tr>
<?php endforeach; ?>
</table>
<p>Extensions: <?php echo htmlspecialchars(implode(', ', get_loaded_extensions())); ?>.</p>
<p>OPcache: <?php
$opcache = function_exists('opcache_get_status') ? opcache_get_status(false) : false;
echo $opcache && $opcache['opcache_enabled'] ? 'on, ' . $opcache['opcache_statistics']['hits'] . ' hits' : 'off';
?>; time zone <?php echo htmlspecialchars(date_default_timezone_get()); ?>.</p>
<form method="get" action="info.php">
<input name="name" placeholder="Your name"> <button>Greet me</button>
</form>
<p><a href="./">Back</a></p>
</body>
</html>
