#!/usr/bin/env bash
# Eight hosts install eight packages on one new simulated machine at the
# same time. Each install changes the products, services and registry
# sections of machine.json and lays files out; afterwards every product
# must be registered with its uninstall entry, service, registry value,
# cached package and files, and a host must list all eight.
#
# usage: parallel_install_test.sh BRISALEN FIXTURES_DIR MSIBUILD
set -euo pipefail
brisalen=$1 fixtures=$2 msibuild=$3
count=8
work=$(mktemp -d /tmp/brisalen-parallel-XXXXXX)
trap 'rm -rf "$work"' EXIT

# Variants of one package that share nothing a product owns: their own
# product code, install folder, service and value of one shared key.
for i in $(seq 1 "$count"); do
    package="$work/Variant$i.msi"
    cp "$fixtures/Bonjour64.msi" "$package"
    code=$(printf '{5EA1ED00-0000-4000-8000-%012d}' "$i")
    "$msibuild" "$package" -q "UPDATE Property SET Value = '$code' WHERE Property = 'ProductCode'"
    "$msibuild" "$package" -q "UPDATE Directory SET DefaultDir = 'Variant $i' WHERE Directory = 'INSTALLDIR'"
    "$msibuild" "$package" -q "UPDATE ServiceInstall SET Name = 'Variant Service $i', DisplayName = 'Variant Service $i'"
    "$msibuild" "$package" -q "INSERT INTO Registry (Registry, Root, \`Key\`, Name, Value, Component_)
        VALUES ('VariantValue', 2, 'SOFTWARE\\Variants', 'Variant $i', '$i', 'mDNSResponder.exe')"
done

machine="$work/machine"
pids=()
for i in $(seq 1 "$count"); do
    "$brisalen" --machine "$machine" machine install "$work/Variant$i.msi" >"$work/install$i.log" 2>&1 &
    pids+=($!)
done
failed=0
for i in $(seq 1 "$count"); do
    if ! wait "${pids[$((i - 1))]}"; then
        echo "install $i failed:"
        cat "$work/install$i.log"
        failed=1
    fi
done
[ "$failed" -eq 0 ]

"$brisalen" --machine "$machine" products --all --json >"$work/products.json"

python3 - "$machine" "$count" "$work/products.json" <<'PYTHON'
import json, os, sys

machine, count, listing = sys.argv[1], int(sys.argv[2]), sys.argv[3]
state = json.load(open(os.path.join(machine, "machine.json")))
codes = {"{5EA1ED00-0000-4000-8000-%012d}" % i for i in range(1, count + 1)}
problems = []

def host_path(win):
    # Windows names ignore case; the machine keeps the spelling of whoever
    # created a folder first.
    at = os.path.join(machine, "drives", win[0].upper())
    for part in win[3:].split("\\"):
        names = {name.lower(): name for name in os.listdir(at)} if os.path.isdir(at) else {}
        at = os.path.join(at, names.get(part.lower(), part))
    return at

products = {p["productCode"]: p for p in state.get("products", [])}
if set(products) != codes:
    problems.append("registered: %s" % sorted(products))
registry = {key.lower(): values for key, values in state.get("registry", {}).items()}
services = {s["name"] for s in state.get("services", [])}
variants = registry.get("hklm\\software\\variants", {})
for i, code in enumerate(sorted(codes), start=1):
    product = products.get(code)
    if product is None:
        continue
    files = product["layout"]["files"]
    missing = [f for f in files if not os.path.isfile(host_path(f))]
    if len(files) < 3 or missing:
        problems.append("%s: %d files laid out, missing %s" % (code, len(files), missing))
    if not os.path.isfile(host_path(product["properties"]["LocalPackage"])):
        problems.append("%s: no cached package" % code)
    if "hklm\\software\\microsoft\\windows\\currentversion\\uninstall\\" + code.lower() not in registry:
        problems.append("%s: no uninstall entry" % code)
    if "Variant Service %d" % i not in services:
        problems.append("%s: no service" % code)
    if variants.get("Variant %d" % i) != str(i):
        problems.append("%s: no registry value" % code)

listed = {p["code"] for p in json.load(open(listing))["products"]}
if not codes <= listed:
    problems.append("host lists %s" % sorted(listed))

for problem in problems:
    print(problem)
sys.exit(1 if problems else 0)
PYTHON
echo "$count parallel installs: all registered and laid out"
