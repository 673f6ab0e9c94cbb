# The folder walker on the real file system, against the host's own count
# of the same tree (find): a folder of 320 files, eight nested folders named
# with blanks and letters outside ASCII, a file whose path passes 260
# characters. Every entry it hands over must name an existing entry; an
# excluded folder is not entered; the cancel flag set from the handler
# stops the walk at once.
walker_tree="$app/walk-tree"
walker_root='C:\Tarnwick\walk-tree'

# Runs walk_probe with the arguments given; its report goes to $app/OUT.
walker_probe() {
    local out="$1"; shift
    (cd "$app" && wine 'C:\Tarnwick\walk_probe.exe' "$walker_root" "$@") | tr -d '\r' >"$app/$out" || return 1
    sed 's/^/  /' "$app/$out"
}

walker_value() { awk -v key="$2" '$1 == key {print $2}' "$app/$1"; }

# "what walk_probe said" against "what it should have said".
walker_expect() {
    local out="$1" key="$2" want="$3" got
    got="$(walker_value "$out" "$key")"
    [ "$got" = "$want" ] && return 0
    echo "  $key: walk_probe says ${got:-nothing}, expected $want"
    return 1
}

walker_bytes() { find "$@" -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }

# The depth of the deepest entry (0 directly in the tree) and the longest
# Windows path of one, in UTF-16 units, as the walker spells it.
walker_host_shape() {
    python3 - "$walker_tree" "$walker_root" <<'PY'
import os, sys
root, windows = sys.argv[1], sys.argv[2]
deepest = longest = 0
for folder, dirs, files in os.walk(root):
    for name in dirs + files:
        rel = os.path.relpath(os.path.join(folder, name), root)
        deepest = max(deepest, rel.count(os.sep))
        path = windows + "\\" + rel.replace(os.sep, "\\")
        longest = max(longest, len(path.encode("utf-16-le")) // 2)
print(deepest, longest)
PY
}

walker_whole() {
    local ok=0 deepest longest
    walker_probe walk-all.txt || return 1
    walker_expect walk-all.txt files "$(find "$walker_tree" -type f | wc -l)" || ok=1
    walker_expect walk-all.txt folders "$(find "$walker_tree" -mindepth 1 -type d | wc -l)" || ok=1
    walker_expect walk-all.txt bytes "$(walker_bytes "$walker_tree" -type f)" || ok=1
    read -r deepest longest < <(walker_host_shape)
    [ "$longest" -gt 260 ] || { echo "  the tree holds no path longer than 260 characters"; ok=1; }
    walker_expect walk-all.txt deepest "$deepest" || ok=1
    walker_expect walk-all.txt longest "$longest" || ok=1
    walker_expect walk-all.txt unreachable 0 || ok=1
    walker_expect walk-all.txt end finished || ok=1
    walker_expect walk-all.txt counters "$(walker_value walk-all.txt files)" || ok=1
    return "$ok"
}

walker_excluded() {
    local ok=0 skip="$walker_tree/d003"
    [ -n "$(find "$skip" -mindepth 2 -type f | head -1)" ] || { echo "  d003 has no nested files"; return 1; }
    walker_probe walk-excluded.txt --exclude "$walker_root\\d003" || return 1
    walker_expect walk-excluded.txt inside-excluded 0 || ok=1
    walker_expect walk-excluded.txt files "$(find "$walker_tree" -path "$skip" -prune -o -type f -print | wc -l)" || ok=1
    walker_expect walk-excluded.txt folders \
        "$(find "$walker_tree" -mindepth 1 -path "$skip" -prune -o -type d -print | wc -l)" || ok=1
    walker_expect walk-excluded.txt bytes "$(walker_bytes "$walker_tree" -path "$skip" -prune -o -type f)" || ok=1
    walker_expect walk-excluded.txt end finished || ok=1
    return "$ok"
}

walker_cancelled() {
    local ok=0
    walker_probe walk-cancel.txt --cancel-after 100 || return 1
    walker_expect walk-cancel.txt files 100 || ok=1
    walker_expect walk-cancel.txt end cancelled-finished || ok=1
    return "$ok"
}

rm -rf "$walker_tree"
if python3 "$here/lib/make_tree.py" "$walker_tree" --entries 3000 --awkward; then
    scenario "walker: counts of a tree of odd and long names agree with find" walker_whole
    scenario "walker: an excluded folder is not entered" walker_excluded
    scenario "walker: the cancel flag set by the handler stops the walk" walker_cancelled
else
    scenario "walker: test tree made" false
fi
rm -rf "$walker_tree"
