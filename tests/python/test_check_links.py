"""scripts/check_links.py: relative links of README.md and docs/*.md."""
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
SCRIPT = ROOT / "scripts" / "check_links.py"


def _check(root):
    return subprocess.run([sys.executable, str(SCRIPT), str(root)],
                          capture_output=True, text=True)


def test_the_repository_has_no_broken_link():
    result = _check(ROOT)
    assert result.returncode == 0, result.stdout


def test_a_broken_file_or_section_is_named_with_its_file_and_line(tmp_path):
    (tmp_path / "docs" / "images").mkdir(parents=True)
    (tmp_path / "docs" / "images" / "a.png").write_bytes(b"")
    (tmp_path / "docs" / "topic.md").write_text(
        "# Topic\n\n## HDF5 results (`--output=hdf5`)\n\n![a](images/a.png)\n"
        "[home](../README.md#exit-status)\n```\n[not a link](nowhere.md)\n```\n"
        "`[code](nowhere.md)` [web](https://example.org/x)\n")
    (tmp_path / "README.md").write_text(
        "# Title\n\n## Exit status\n\n[ok](docs/topic.md#hdf5-results---outputhdf5)\n"
        "[gone](docs/gone.md) ![img](docs/images/b.png)\n[bad](docs/topic.md#nothing)\n")
    result = _check(tmp_path)
    assert result.returncode == 1
    lines = result.stdout.splitlines()
    assert lines[:3] == ["README.md:6: docs/gone.md (no such file)",
                         "README.md:6: docs/images/b.png (no such file)",
                         "README.md:7: docs/topic.md#nothing (no section '#nothing' in topic.md)"]
    assert "3 broken of 7 links" in lines[3]
