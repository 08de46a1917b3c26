#!/bin/sh
# The macOS workflow cannot run here; this checks what can be: it is YAML that names a macOS
# runner, installs exactly the Homebrew packages the README lists, runs the tests, makes the
# package and runs the signing script.
# Usage: check-workflow.sh WORKFLOW README
set -eu
python3 - "$1" "$2" <<'PY'
import re, sys, yaml
workflow = yaml.safe_load(open(sys.argv[1]))
readme = open(sys.argv[2]).read()
job = workflow["jobs"]["macos"]
assert job["runs-on"].startswith("macos"), job["runs-on"]
runs = [step.get("run", "") for step in job["steps"]]
brew = [line.strip() for run in runs for line in run.splitlines() if line.startswith("brew install")]
listed = re.findall(r"^    (brew install .*)$", readme, re.M)
assert brew and brew[0] in listed, (brew, listed)
for needed in ("ctest --test-dir build", "cpack -G productbuild", "sign-and-notarise.sh package"):
    assert any(needed in run for run in runs), needed
PY
echo "workflow: $1 parses and follows the README"
