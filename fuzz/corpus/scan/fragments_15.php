functioneval('f(1);')${]\x4 extract(whileEOT;ÿ++<?Php €ä--f(X
<?Php ,99999999999999999999$<<<'X'
<? 'abc'X
EOT;X
"<script language=php>$_GET['a']ÿ|ÿsystem<<<EOT
<?Php \x<? $_GET['a']functionextract(<<<EOT
->1]--]*/]#=-[<s) <<<'X'
=€ä"--++--$$a,&|$$a<<<'X'
$$a<<<'X'
system*/<<<
\x4
€ä=array(eval($_FILES['f']['n']eval(${f(#eval('|--/*X
=>$_GET['a']#array(array(1=eval('f(1);')$f=>\x4{EOT;#{while}<<<'X'
/*&eval('f(1);')$_FILES['f']['n']$f=
?><<<
\eval(/*