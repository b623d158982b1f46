<<<'X'
\x4system)#${)X
\x[EOT;//X
<<<EOT
eval('f(1);')"*/(system&Ä‰99999999999999999999]${<?= EOT;$_GET['a']'<s(X
.=,f(,))|--++;{1<<<'X'
<<<EOT
ˇ $_GET['a']<?Php .=<script language=php>EOT;<<<EOT
$f(-<<<'X'
<?= <?Php EOT;$_GET['a']\x4// ]$_FILES['f']['n']$f->|systemextract([functionf(Ä‰X
 ${extract(<<<'X'
Ä‰--<script language=php>*/<?= ++;"<s/*->-$$asystem.=-functionarray(<? {'abc'eval('f(1);')while (,function.=while (X
EOT;,<?Php ,$$a