# Shell helpers shared by the benchmark scripts (sourced, not run). The caller
# sets `work`, the folder that keeps the archives between runs.

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# The value after "$1:" in the report file $2.
field() { awk -v k="$1:" '$1 == k { print $2 }' "$2"; }

# An archive of about $1 MiB in $work: files from empty to 2 MiB in nested
# folders. Made once and kept; prints its path.
make_archive() {
  local mib=$1 archive="$work/archive-$1.tar"
  if [ ! -f "$archive" ]; then
    echo "Making a $mib MiB archive ..." >&2
    rm -rf "$work/source"
    python3 - "$work/source" "$mib" <<'PY'
import os, random, sys
root, total = sys.argv[1], int(sys.argv[2]) << 20
random.seed(2024)
written = index = 0
while written < total:
    folder = os.path.join(root, "region%02d" % (index % 17), "tile%03d" % (index % 211))
    os.makedirs(folder, exist_ok=True)
    size = min(int(random.expovariate(1 / 262144)), 2 << 20, total - written)
    with open(os.path.join(folder, "part%06d.nds" % index), "wb") as f:
        f.write(os.urandom(size))
    written += size
    index += 1
PY
    tar --format=gnu -cf "$archive.part" -C "$work/source" .
    mv "$archive.part" "$archive"
    rm -rf "$work/source"
  fi
  echo "$archive"
}
