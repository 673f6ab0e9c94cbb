"""Prints the function names include/BrisalenC.h declares (each
BRISALEN_C_API declaration, comments and preprocessor lines left out), one a
line. Fails on a declaration it cannot read, so a header reshaped in a way
this does not follow stops the checks that use it instead of shortening
their lists."""
import re
import sys

text = open(sys.argv[1], encoding="utf-8").read()
text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
text = re.sub(r"^[ \t]*#.*$", " ", text, flags=re.M)
names = []
for decl in re.findall(r"\bBRISALEN_C_API\b([^;]*);", text):
    found = re.search(r"(\w+)\s*\(", decl)
    if not found:
        sys.exit("%s: no function name in %r" % (sys.argv[1], decl))
    names.append(found.group(1))
if not names or any(not n.startswith("Brisalen") for n in names) or len(set(names)) != len(names):
    sys.exit("%s: unexpected declarations %r" % (sys.argv[1], names))
print("\n".join(names))
