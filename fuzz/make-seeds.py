#!/usr/bin/env python3
"""Writes the larger generated seeds of the fuzz corpora.

    fuzz/make-seeds.py [--qzrules PATH]

Scripts go to corpus/scan (no NUL bytes, so both the buffer and the file
targets read them whole) and corpus/file (NUL bytes included). Each stays
under 64 KiB. With --qzrules (the built tools/qzrules/qzrules), the
enciphered rule files of corpus/verdict and the dictionary verdict.dict are
written too. The output depends on nothing but this script, so running it
again rewrites the same bytes.
"""

import argparse
import base64
import os
import random
import subprocess
import tempfile
import urllib.parse
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
MAX_SEED = 64 * 1024

# The shell every layered seed ends in.
PAYLOAD = "system($_POST['c']); eval($_REQUEST['e']); assert($_GET['a']);"


def deflate_raw(text):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(text.encode("latin-1")) + c.flush()


def b64(data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    return base64.b64encode(data).decode("ascii")


def quote(text):
    """A single-quoted PHP literal of text (which holds no NUL)."""
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


# One layer each: a function of the inner code that returns PHP code which,
# run, hands that inner code to eval or assert.
LAYERS = [
    lambda s: "eval(base64_decode(%s));" % quote(b64(s)),
    lambda s: "eval(gzinflate(base64_decode(%s)));" % quote(b64(deflate_raw(s))),
    lambda s: "eval(str_rot13(%s));" % quote(s.translate(ROT13)),
    lambda s: "eval(strrev(%s));" % quote(s[::-1]),
    lambda s: "eval(base64_decode(strrev(%s)));" % quote(b64(s)[::-1]),
    lambda s: "eval(urldecode(%s));" % quote(urllib.parse.quote(s, safe="")),
    lambda s: "$x = base64_decode(str_replace('#', '', %s)); eval($x);"
    % quote("#".join(b64(s)[i:i + 7] for i in range(0, len(b64(s)), 7))),
    lambda s: "$f = 'base' . '64_de' . 'code'; assert($f(%s));" % quote(b64(s)),
    lambda s: "eval(gzuncompress(base64_decode(%s)));"
    % quote(b64(zlib.compress(s.encode("latin-1"), 9))),
]
ROT13 = str.maketrans(
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz",
    "NOPQRSTUVWXYZABCDEFGHIJKLMnopqrstuvwxyzabcdefghijklm")


def layered_eval(most):
    """Decoder layers around the shell, round robin over LAYERS, at most
    `most` of them and as many as fit: every decoder and sink the engine
    emulates, nested deep."""
    code = PAYLOAD
    for n in range(most):
        wrapped = LAYERS[n % len(LAYERS)](code)
        if len("<?php\n" + wrapped + "\n?>\n") > MAX_SEED - 1024:
            break
        code = wrapped
    return "<?php\n" + code + "\n?>\n"


def long_heredoc(rng):
    """Heredocs and nowdocs with long bodies, interpolation, labels that
    almost close, and a body handed to eval."""
    words = ["$_GET['x']", "{$a}", "${b}", "$c[1]", "\\x41", "\\\\", "\\$d", "<<<", "?>",
             "EOT", " EOT", "EOTX", "eval(", "\\n", "'", "\""]

    def body(size):
        lines = []
        while sum(len(l) + 1 for l in lines) < size:
            lines.append(" ".join(rng.choice(words) for _ in range(rng.randint(1, 12))))
        return "\n".join(lines)

    code = ["<?php", "$a = 'system'; $b = 'eval'; $c = array(1, 2);"]
    code += ["$h = <<<EOT", body(20000), "EOT;"]
    code += ["$n = <<<'NOW'", body(15000), "NOW;"]
    code += ['$q = <<<"QT"', "$a($_POST[cmd]);", "  QT;", "QT;"]
    code += ["eval(<<<PHP", PAYLOAD * 200, "PHP", ");"]
    label = "L" * 64
    code += ["$l = <<<" + label + "X", "x", label + "X;"]
    code += ["$e = <<<EOT", "EOT;"]
    code += ["echo $h . $n . $q . $l . $e;", "?>", ""]
    return "\n".join(code)


def limits():
    """Each bound of the engine met just below, at and just above."""
    out = ["<?php"]
    # Longest token kept by the lexer.
    for n in (4999, 5000, 5001):
        out.append("$t%d = '%s'; eval($t%d);" % (n, "a" * n, n))
    # Variable-variable and ${} name lengths.
    for n in (125, 126, 127):
        name = "v" * n
        out.append("$%s = 'system'; $$%s($_GET[0]);" % (name, name))
    for n in (63, 64, 65):
        out.append("${'%s'} = $_POST[1]; ${'%s'}();" % ("w" * n, "w" * n))
    # str_rot13's work buffer, range() and the for-loop emulation.
    for n in (998, 999, 1000, 1001):
        out.append("eval(str_rot13('%s'));" % ("flfgrz($_TRG[0]);" * (n // 17 + 1))[:n])
    for hi in (297, 298, 299, 300):
        out.append("$r = range(0, %d); echo count($r);" % hi)
    for n in (49, 50, 51):
        out.append("for ($i = 0; $i < %d; $i++) { $s .= chr($i); }" % n)
    # A fixed-arity built-in with more arguments than any takes.
    out.append("str_replace(%s);" % ", ".join(str(i) for i in range(12)))
    # More explode() pieces than one call appends: a text doubled to 2^17.
    out.append("$d = ',';")
    out.extend(["$d .= $d;"] * 17)
    out.append("$p = explode(',', $d); echo count($p);")
    # Evaluated code nested one past the bound of nested driver runs.
    out.append("$e0 = 'system($_GET[0]);';")
    for i in range(1, 35):
        out.append("$e%d = 'eval($e%d);';" % (i, i - 1))
    out.append("eval($e34);")
    # Evaluated code run more often than the per-scan bound: 50 x 50 runs.
    out.append("$in = 'for ($j = 0; $j < 50; $j++) { eval(\"echo 1;\"); }';")
    out.append("for ($k = 0; $k < 50; $k++) { eval($in); }")
    # Nested array accesses (deep_nesting.php holds calls and groups at the
    # per-statement depth bound).
    out.append("$y = $a" + "[$a" * 1000 + "]" * 1000 + ";")
    out.append("?>")
    return "\n".join(out) + "\n"


def binary(rng, with_nul):
    """PHP fragments with raw bytes between and inside them: 0xFF (which the
    stdio reader takes for the end of the input), high bytes, control
    characters and, for the file target, NUL bytes."""
    fragments = [b"<?php ", b"?>", b"eval(", b"base64_decode(", b"$_POST['c']", b"'", b"\"",
                 b"<<<EOT\n", b"\nEOT;\n", b"/*", b"*/", b"//", b"\n", b";", b"(", b")", b"{",
                 b"}", b"$$", b"${", b"\\x", b"<?=", b"<? ", b"<script language=php>"]
    raw = [0xFF, 0xFE, 0x80, 0x7F, 0x01, 0x1B, 0x0D, 0x09, 0xC3, 0xA9]
    if with_nul:
        raw += [0x00] * 4
    out = bytearray(b"<?php eval($_GET['q']);\xff system($_POST['c']);\n")
    if with_nul:
        out += b"$s = \"a\x00b\"; eval(\"system(\x00$_GET[1]);\");\n"
        out += b"/* \x00 */ assert($_REQUEST['r']); // \x00\n"
    while len(out) < 16 * 1024:
        if rng.random() < 0.5:
            out += rng.choice(fragments)
        else:
            out += bytes(rng.choice(raw) for _ in range(rng.randint(1, 8)))
    out += b"\n?>\xff\xff"
    return bytes(out)


def write(folder, name, data):
    if isinstance(data, str):
        data = data.encode("latin-1")
    if len(data) > MAX_SEED:
        raise SystemExit("%s/%s: %d bytes, over %d" % (folder, name, len(data), MAX_SEED))
    path = os.path.join(HERE, "corpus", folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    print("%s (%d bytes)" % (os.path.relpath(path, HERE), len(data)))


# Rules for the verdict seeds, enciphered by qzrules; each is a line of the
# seed it belongs to. "edge" holds texts at the loader's limits.
RULES_EDGE = [
    "define_var(V," + "+".join("n%d" % i for i in range(40)) + ")",
    "define_var(LOOP,LOOP)",
    "define_behavior(LOOP,0=LOOP,5,a variable naming itself)",
    "define_behavior(eval+system,0=$_POST_DATA&1=x&2=y&3=z&4=a&5=b&6=c&7=d&8=e&9=f&10=g&11=h"
    "&12=i&13=j&14=k&15=l,9,more conditions than are read)",
    "define_behavior(system,0=$_GET_DATA,-5,a negative score)",
    "define_behavior(eval,0=qz_decoded,4294967301,a score past 32 bits)",
    "define_behavior(assert,,99999999999999999999,)",
    "define_behavior(" + "f" * 110 + ",,5," + "d" * 110 + ")",
    "define_behavior(eval,0=,5,empty pattern,1)",
    "define_behavior(eval,x,5,condition without position)",
    "define_behavior(,,,)",
    "define_call_list(" + "&".join("c%d" % i for i in range(20)) + ",7,more names than are read)",
    "define_call_list(" + "x" * 40 + "&fsockopen,8,a name wider than its slot)",
    "define_call_list(&&&,5,only separators)",
    "define_repeat_call(chr,0,5,no repetition needed)",
    "define_repeat_call(chr,-1,5,negative count)",
    "define_repeat_call(" + "r" * 40 + ",2,5,a function wider than its slot)",
    "define_variable(X,is a define_var by prefix)",
    "define_unknown(1,2,3)",
    "define_behavior(eval,0=$_POST_DATA,10,no closing parenthesis",
    "define_behavior(eval,0=$_POST_DATA,10,two (nested) parentheses))",
]
# Only suspicious scores, so that no call stops the scan and the call-list
# and repeated-call rules are checked at the end of the file.
RULES_SUSPICIOUS = [
    "define_var(SHELL,system+proc_open)",
    "define_behavior(SHELL,,4,shell call)",
    "define_behavior(base64_decode+assert,0=$_COOKIE_DATA,2,decoded cookie)",
    "define_behavior(eval,0=$_POST_DATA+qz_decoded,1,eval of request data,1)",
    "define_call_list(fsockopen&proc_open,3,socket and process)",
    "define_repeat_call(chr,3,2,characters one at a time)",
]
RULES_KEYWORDS = ["define_var(", "define_behavior(", "define_call_list(", "define_repeat_call("]


def encipher(qzrules, lines):
    with tempfile.TemporaryDirectory() as tmp:
        plain = os.path.join(tmp, "plain.txt")
        with open(plain, "w") as f:
            f.write("\n".join(lines) + "\n")
        out = os.path.join(tmp, "out.rules")
        subprocess.run([qzrules, "encrypt", plain, "-o", out], check=True)
        with open(out, "rb") as f:
            return f.read()


def verdict_seeds(qzrules):
    with open(os.path.join(HERE, "..", "rules", "default.rules.txt")) as f:
        default_plain = [l.rstrip("\n") for l in f
                         if l.strip() and not l.lstrip().startswith("#")]
    default = encipher(qzrules, default_plain)
    write("verdict", "default.rules", default)
    # Cut in the middle of a line, an odd number of digits into it.
    write("verdict", "truncated.rules", default[:len(default) // 2 | 1])
    lines = default.split(b"\n")
    bad = [lines[0],
           lines[1].lower(),                   # lowercase digits
           lines[2][:-1],                      # odd length
           lines[3][:10] + b"G" + lines[3][11:],  # a digit that is none
           lines[4] + lines[5],                # two rules run together
           b"define_behavior(eval,,10,plain text)",
           b"",
           lines[6] + b"\r",                   # CRLF line end
           (lines[7] * 8)[:600],               # longer than one read
           lines[8] + b"\x00" + lines[9],      # a NUL inside the line
           b"\xff\xfe",
           ] + lines[10:]
    write("verdict", "bad_lines.rules", b"\n".join(bad))
    write("verdict", "edge.rules", encipher(qzrules, RULES_EDGE))
    write("verdict", "suspicious.rules", encipher(qzrules, RULES_SUSPICIOUS))
    keywords = encipher(qzrules, RULES_KEYWORDS).decode("ascii").split()
    with open(os.path.join(HERE, "verdict.dict"), "w") as f:
        f.write("# Rule keywords as they begin an enciphered line (each line is enciphered\n"
                "# from the start of the key stream), and line ends.\n")
        for word, hexed in zip(RULES_KEYWORDS, keywords):
            f.write('%s="%s"\n' % (word.rstrip("(").replace("define_", "kw_"), hexed))
        f.write('lf="\\x0a"\ncrlf="\\x0d\\x0a"\n')
    print("verdict.dict")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--qzrules", help="built qzrules, to write the verdict seeds")
    args = ap.parse_args()
    rng = random.Random(20240601)
    # Within the bound of nested evaluations (32), and past it.
    write("scan", "layered_eval.php", layered_eval(30))
    write("scan", "layered_eval_deep.php", layered_eval(1000))
    write("scan", "long_heredoc.php", long_heredoc(rng))
    write("scan", "limits.php", limits())
    write("scan", "binary_ff.php", binary(rng, with_nul=False))
    write("file", "binary_nul.php", binary(rng, with_nul=True))
    if args.qzrules:
        verdict_seeds(args.qzrules)


if __name__ == "__main__":
    main()
