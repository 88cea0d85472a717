# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: The cdrw-fwupdate developers
# Turns CHANGELOG.md into the Debian changelog format (debian/changelog): each
# "## VERSION — YYYY-MM-DD" heading starts an entry, each "- " item becomes a "  * " item and
# every other line a plain paragraph, all wrapped at 78 columns; backticks are dropped.
# Set on the command line: package, maintainer ("Name <address>"). tools/debian-changelog.sh
# runs it with both taken from debian/control.
#   awk -v package=cdrw-fwupdate -v maintainer='...' -f debian-changelog.awk CHANGELOG.md

# Day of the week, 0 for Sunday (Sakamoto's method).
function weekday(y, m, d,    offsets) {
    split("0 3 2 5 0 3 5 1 4 6 2 4", offsets, " ")
    if (m < 3) y -= 1
    return (y + int(y / 4) - int(y / 100) + int(y / 400) + offsets[m] + d) % 7
}

# "YYYY-MM-DD" as the RFC 2822 date of a changelog trailer, `seconds` after midnight UTC.
function trailerDate(iso, seconds,    part, days, months) {
    split(iso, part, "-")
    split("Sun Mon Tue Wed Thu Fri Sat", days, " ")
    split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", months, " ")
    return sprintf("%s, %02d %s %04d %02d:%02d:%02d +0000",
                   days[weekday(part[1] + 0, part[2] + 0, part[3] + 0) + 1], part[3],
                   months[part[2] + 0], part[1], int(seconds / 3600) % 24,
                   int(seconds / 60) % 60, seconds % 60)
}

# Prints the collected paragraph, wrapped, after a blank line if one came before it.
function flush(    words, n, i, line, lead) {
    if (text == "") return
    if (blank && printed) print ""
    blank = 0
    lead = item ? "  * " : "  "
    line = ""
    n = split(text, words, " ")
    for (i = 1; i <= n; i++) {
        if (line != "" && length(lead) + length(line) + 1 + length(words[i]) > 78) {
            print lead line
            lead = item ? "    " : "  "
            line = ""
        }
        line = line == "" ? words[i] : line " " words[i]
    }
    print lead line
    printed = 1
    text = ""
}

function closeEntry() {
    flush()
    if (version != "") {
        print ""
        print " -- " maintainer "  " date
    }
}

# Each entry's trailer must be later than the one below it, also for releases of one day: an
# entry's time of day is the number of entries below it, in seconds.
BEGIN {
    while ((getline line < ARGV[1]) > 0) if (line ~ /^## /) entries++
    close(ARGV[1])
}

{ gsub(/`/, "") }

/^## / {
    closeEntry()
    if (version != "") print ""
    version = $2
    date = trailerDate($4, entries - ++seen)
    print package " (" version ") unstable; urgency=medium"
    print ""
    printed = 0
    blank = 0
    next
}

version == "" { next }

/^- / { flush(); item = 1; text = substr($0, 3); next }

/^[ \t]*$/ { flush(); blank = 1; next }

/^  / && text != "" { sub(/^ +/, ""); text = text " " $0; next }

{ flush(); item = 0; text = $0 }

END { closeEntry() }
