# Helpers shared by the benchmark scripts; sourced, never run. The script
# sets tmp (its scratch directory) first, and for viewer_run also pty, rows
# and timeout.

# Write a file of exactly mb * 10^6 bytes of text: a deterministic 1 MB
# block of lines of 7 to 71 characters (digits and words), repeated. No
# line is wider than the screen, so each one takes a single row. The words
# "line", "needle" and "zq" never occur in it.
make_text() {
    local file=$1 mb=$2 i
    awk 'BEGIN {
        srand(7); size = 1000000; total = 0
        split("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike", w, " ")
        while (total < size - 80) {
            n = int(rand() * 9); s = sprintf("%07d", total)
            for (k = 0; k < n; k++) s = s " " w[1 + int(rand() * 13)]
            print s; total += length(s) + 1
        }
        s = ""; while (total + length(s) + 1 < size) s = s "z"
        if (length(s) >= 80) exit 1
        print s
    }' > "$tmp/block" || return 1
    for ((i = 0; i < 10; i++)); do cat "$tmp/block"; done > "$tmp/block10"
    for ((i = 0; i < mb / 10; i++)); do cat "$tmp/block10"; done > "$file"
    rm -f "$tmp/block" "$tmp/block10"
}

# Microseconds since the epoch, without starting a process.
now_us() { local t=$EPOCHREALTIME; echo "${t/./}"; }

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

maximum() { printf '%s\n' "$@" | sort -n | tail -n 1; }

minimum() { printf '%s\n' "$@" | sort -n | head -n 1; }

secs() { awk -v us="$1" 'BEGIN { printf "%.3f", us / 1e6 }'; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

le() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }

per_mb() { awk -v us="$1" -v mb="$2" 'BEGIN { printf "%.3f", us / 1000 / mb }'; }

free_disk_mb() { df -Pk "$tmp" | awk 'NR == 2 { print int($4 / 1000) }'; }

free_memory_mb() { awk '/^MemAvailable:/ { print int($2 / 1000) }' /proc/meminfo; }

verdict() {     # verdict description value limit
    if le "$2" "$3"; then
        echo "   target met: $1 $2 <= $3"
    else
        echo "   TARGET MISSED: $1 $2 > $3"
        failed=1
    fi
}

# Linear in size: time per MB at 1 GB over that at 100 MB, outright or
# relative to the standard tool's own growth in the same run.
linearity() {   # linearity what ours100 ours1000 tool tool100 tool1000 limit
    local growth tool_growth relative
    growth=$(ratio "$3" "$2")
    tool_growth=$(ratio "$6" "$5")
    relative=$(ratio "$growth" "$tool_growth")
    echo "== $1, time per MB at 1 GB over 100 MB: quorel $growth, $4 $tool_growth"
    echo "   (quorel's growth is $relative times that of $4)"
    if le "$growth" "$7" || le "$relative" "$7"; then
        echo "   target met: linear in size (growth or growth relative to $4 <= $7)"
    else
        echo "   TARGET MISSED: grows faster than linearly ($growth, $relative times $4's; limit $7)"
        failed=1
    fi
}

# Run the viewer under pty_time; sets run_us and run_kb, or fails.
viewer_run() {     # viewer_run wanted-text [-i file] -- viewer arguments
    local wanted=$1 out
    shift
    out=$("$pty" -r "$rows" -c 80 -t "$timeout" -w "$wanted" "$@") || {
        echo "   run FAILED: $out" >&2
        return 1
    }
    local seconds=${out#seconds=}
    seconds=${seconds%% *}
    run_kb=${out#*maxrss_kb=}
    run_kb=${run_kb%% *}
    run_us=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 1e6 }')
    case $out in
    *status=0) ;;
    *) echo "   viewer exit status: ${out##*status=}" >&2; return 1 ;;
    esac
}

# Write about mb * 10^6 bytes of text coloured as a version-control log
# with patches is: a 1 MB block of commits, each a yellow header, a plain
# message and a patch whose file headers are bold, hunk headers cyan,
# removed lines red and added lines green (most lines carry a colour), all
# repeated. The words "zq" and "quagga" never occur in it.
make_coloured_text() {
    local file=$1 mb=$2 i
    awk 'BEGIN {
        srand(11); size = 1000000; total = 0; e = "\033"
        split("alpha bravo charlie delta echo foxtrot golf hotel india juliet kilo lima mike", w, " ")
        while (total < size - 2000) {
            s = sprintf("%scommit %08x%08x%s\nAuthor: Someone <some@where>\n\n    change %d %s\n\n", \
                        e "[33m", total, total * 7, e "[m", total, w[1 + int(rand() * 13)])
            s = s sprintf("%s[1mdiff --git a/f%d.c b/f%d.c%s[m\n%s[1m--- a/f%d.c%s[m\n%s[1m+++ b/f%d.c%s[m\n", \
                          e, total % 97, total % 97, e, e, total % 97, e, e, total % 97, e)
            hunks = 1 + int(rand() * 3)
            for (h = 0; h < hunks; h++) {
                s = s sprintf("%s[36m@@ -%d,7 +%d,8 @@%s[m static int f%d(void)\n", e, h * 40 + 1, h * 40 + 1, e, h)
                for (k = 0; k < 8; k++) {
                    t = w[1 + int(rand() * 13)] " = " w[1 + int(rand() * 13)] "(" int(rand() * 1000) ");"
                    r = rand()
                    if (r < 0.2) s = s " \t" t "\n"
                    else if (r < 0.55) s = s e "[31m-\t" t e "[m\n"
                    else s = s e "[32m+\t" t e "[m\n"
                }
            }
            printf "%s", s; total += length(s)
        }
    }' > "$tmp/block" || return 1
    for ((i = 0; i < 10; i++)); do cat "$tmp/block"; done > "$tmp/block10"
    for ((i = 0; i < mb / 10; i++)); do cat "$tmp/block10"; done > "$file"
    rm -f "$tmp/block" "$tmp/block10"
}
