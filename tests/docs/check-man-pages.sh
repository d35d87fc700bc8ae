#!/usr/bin/env bash
# Checks manual pages the way readers and installers meet them:
#   - groff with every warning on prints nothing;
#   - man -l at 80 columns prints no warning on standard error and succeeds;
#   - the NAME section parses (whatis/apropos find the page);
#   - the .TH line names the page as its file does (name and section), since
#     the pages are installed by their file names;
#   - every reference to one of our own pages, name(N), has a file here.
#
#   check-man-pages.sh DIR          checks DIR/*.1 DIR/*.5 DIR/*.8
#   check-man-pages.sh --self-test  makes faulty pages and checks that each
#                                   fault is reported, and a good page is not
#
# Exit status 0 when all is well, 1 on a fault, 77 (skip) when groff or man is
# not installed.
set -uo pipefail

export LC_ALL=C.UTF-8 MANWIDTH=80 MAN_KEEP_STDERR=1 MANPAGER=cat PAGER=cat

for tool in groff man lexgrog; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "check-man-pages: $tool is not installed; skipped" >&2
    exit 77
  fi
done

# Prints one line per fault of one page; prints nothing for a good page.
check_page() {
  local page=$1 dir file name section output
  dir=$(dirname "$page")
  file=$(basename "$page")
  section=${file##*.}
  name=${file%.*}

  output=$(groff -ww -man -Tutf8 -z "$page" 2>&1)
  [[ -z $output ]] || printf '%s: groff: %s\n' "$file" "$output"

  if ! output=$(man -l "$page" 2>&1 >/dev/null); then
    printf '%s: man -l failed: %s\n' "$file" "$output"
  elif [[ -n $output ]]; then
    printf '%s: man -l: %s\n' "$file" "$output"
  fi

  lexgrog "$page" >/dev/null 2>&1 || printf '%s: the NAME section does not parse\n' "$file"

  # .TH TITLE SECTION ...: the title is the name in upper case, with \- for -.
  local th title th_section
  th=$(grep -m1 '^\.TH ' "$page")
  read -r _ title th_section _ <<<"$th"
  title=${title//\\-/-}
  title=${title//\"/}
  th_section=${th_section//\"/}
  if [[ ${title,,} != "${name,,}" || $th_section != "$section" ]]; then
    printf '%s: .TH names %s(%s)\n' "$file" "$title" "$th_section"
  fi

  # References such as ".BR pvx\-passwd (1)" or "pvx.ini(5)" to our own pages.
  local ref ref_name ref_section
  while read -r ref; do
    ref_name=${ref%% *}
    ref_name=${ref_name%%(*}
    ref_section=${ref##*(}
    ref_section=${ref_section%)}
    [[ -f $dir/$ref_name.$ref_section ]] || printf '%s: refers to %s(%s), which is not here\n' "$file" "$ref_name" "$ref_section"
  done < <(sed 's/\\-/-/g' "$page" | grep -oE '\bpvx[A-Za-z0-9.-]*[a-z0-9] ?\([158]\)' | sort -u)
}

check_dir() {
  local dir=$1 page faults=0 pages=0 report
  shopt -s nullglob
  for page in "$dir"/*.1 "$dir"/*.5 "$dir"/*.8; do
    pages=$((pages + 1))
    report=$(check_page "$page")
    if [[ -n $report ]]; then
      printf '%s\n' "$report" >&2
      faults=$((faults + 1))
    fi
  done
  if ((pages == 0)); then
    echo "check-man-pages: no pages in $dir" >&2
    return 1
  fi
  echo "check-man-pages: $pages pages, $faults with faults"
  ((faults == 0))
}

self_test() {
  local work failed=0
  work=$(mktemp -d)
  trap 'rm -rf "$work"' RETURN

  local good='.TH PVX\-DEMO 1 "2026" "pvx" "User commands"
.SH NAME
pvx\-demo \- a page to test the checker
.SH DESCRIPTION
Some text.
.SH SEE ALSO
.BR pvx\-demo (1)'

  # Each case: file name | text the report must hold (empty: a good page, no
  # report at all) | text of the page.
  local -a names expects bodies
  names+=(pvx-demo.1);  expects+=("");                               bodies+=("$good")
  names+=(pvx-demo.1);  expects+=("macro 'XY' not defined");         bodies+=("$good"$'\n.XY oops')
  names+=(pvx-demo.1);  expects+=("'nosuchstring' not defined");     bodies+=("$good"$'\n\\*[nosuchstring]')
  names+=(pvx-demo.1);  expects+=("can't break line");               bodies+=("$good"$'\n.TP\n'"$(printf 'x%.0s' {1..120})")
  names+=(pvx-demo.1);  expects+=("NAME section does not parse");    bodies+=("${good/pvx\\-demo \\- a page to test the checker/}")
  names+=(pvx-demo.5);  expects+=(".TH names PVX-DEMO(1)");          bodies+=("$good")
  names+=(pvx-other.1); expects+=(".TH names PVX-DEMO(1)");          bodies+=("$good")
  names+=(pvx-demo.1);  expects+=("refers to pvx-missing(8)");       bodies+=("$good"$',\n.BR pvx\\-missing (8)')

  local i dir report
  for i in "${!names[@]}"; do
    dir=$work/case$i
    mkdir -p "$dir"
    printf '%s\n' "${bodies[$i]}" >"$dir/${names[$i]}"
    report=$(check_page "$dir/${names[$i]}")
    if [[ -z ${expects[$i]} && -n $report ]]; then
      printf 'self-test: case %d, a good page, was reported: %s\n' "$i" "$report" >&2
      failed=1
    elif [[ -n ${expects[$i]} && $report != *"${expects[$i]}"* ]]; then
      printf 'self-test: case %d: expected "%s" in the report, got: %s\n' "$i" "${expects[$i]}" "${report:-nothing}" >&2
      failed=1
    fi
  done
  ((failed == 0)) && echo "check-man-pages: self-test passed, ${#names[@]} cases"
  ((failed == 0))
}

case ${1:-} in
--self-test) self_test ;;
"") echo "usage: check-man-pages.sh DIR | --self-test" >&2; exit 2 ;;
*) check_dir "$1" ;;
esac
