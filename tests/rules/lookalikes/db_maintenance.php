<?php
// Creates the tables on first run and lists the latest entries.
$db = new PDO('sqlite:' . __DIR__ . '/data/app.sqlite');
$db->exec('CREATE TABLE IF NOT EXISTS entries (id INTEGER PRIMARY KEY, title TEXT, body TEXT)');
$db->exec('PRAGMA journal_mode = WAL');
$limit = isset($_GET['limit']) ? max(1, min(50, (int) $_GET['limit'])) : 10;
$stmt = $db->prepare('SELECT id, title FROM entries ORDER BY id DESC LIMIT :limit');
$stmt->bindValue(':limit', $limit, PDO::PARAM_INT);
$stmt->execute();
foreach ($stmt->fetchAll(PDO::FETCH_ASSOC) as $row) {
    echo htmlspecialchars($row['title']), "\n";
}
$count = $db->query('SELECT COUNT(*) FROM entries')->fetchColumn();
$mysqli = new mysqli('localhost', 'app', 'secret', 'app');
$mysqli->query('DELETE FROM sessions WHERE expires < NOW()');
echo $count;
