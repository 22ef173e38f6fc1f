"""tintwell --report=json, run as any script would run it: one object per
picture on stdout, in every form, with the same kind, result code, exit
status and English lines as the command line's own."""

from __future__ import annotations

import json
import os
from pathlib import Path

import pytest

from conftest import make_picture, run_host

FIELDS = {"input": (str,), "output": (str, type(None)), "file": (str,), "kind": (str,),
          "result": (int, type(None)), "exit_status": (int,), "message": (str, type(None)),
          "reason": (str, type(None)), "picture": (dict, type(None))}
PICTURE_FIELDS = {"width": int, "height": int, "bits_per_pixel": int, "file_size": int, "through_copy": bool}
KINDS = {"succeeded": 0, "refused": 4, "failed": 2, "input-changed": 5}


def objects(stdout: bytes) -> list:
    """Every line of stdout as one JSON object of the documented schema."""
    found = []
    for line in stdout.decode().splitlines():
        report = json.loads(line)
        assert set(report) == set(FIELDS), line
        for field, types in FIELDS.items():
            assert isinstance(report[field], types), (field, line)
        assert KINDS[report["kind"]] == report["exit_status"] or report["kind"] == "failed", line
        # The reason is the message's own words, after the file's name.
        if report["reason"] is not None:
            assert report["kind"] != "succeeded", line
            assert report["reason"] in report["message"], line
        if report["picture"] is not None:
            assert {field: type(value) for field, value in report["picture"].items()} == PICTURE_FIELDS, line
        found.append(report)
    return found


def sixty_four_bits(path: Path) -> Path:
    """A picture the host refuses: its header says 64 bits per pixel."""
    data = bytearray(path.read_bytes())
    data[28] = 64
    path.write_bytes(bytes(data))
    return path


@pytest.fixture
def folder(tmp_path: Path) -> Path:
    make_picture(tmp_path / "a.bmp", 5, 3, 1)
    make_picture(tmp_path / "b.bmp", 4, 4, 2)
    make_picture(tmp_path / "r.bmp", 2, 2, 3)
    sixty_four_bits(tmp_path / "r.bmp")
    return tmp_path


# Why r.bmp is refused, and a.bmp as the host's check finds it.
REFUSED_64 = "64 bits per pixel; tintwell cannot edit it exactly"
A_PICTURE = {"width": 5, "height": 3, "bits_per_pixel": 24, "file_size": 54 + 16 * 3, "through_copy": False}

# (command line, the one object expected, the exit status): each form and outcome.
SINGLE = [
    (["invert", "a.bmp", "o.bmp"],
     {"input": "a.bmp", "output": "o.bmp", "file": "o.bmp", "kind": "succeeded", "result": 999, "reason": None,
      "picture": A_PICTURE}, 0),
    (["brighten", "300", "a.bmp", "o.bmp"],
     {"kind": "succeeded", "result": 999}, 0),
    (["read", "a.bmp"],
     {"input": "a.bmp", "output": None, "file": "a.bmp", "kind": "succeeded", "result": 0, "picture": A_PICTURE}, 0),
    (["invert", "r.bmp", "o.bmp"],
     {"file": "r.bmp", "kind": "refused", "result": None, "reason": REFUSED_64, "picture": None}, 4),
    (["invert", "missing.bmp", "o.bmp"],
     {"file": "missing.bmp", "kind": "refused", "result": None, "reason": "no such file", "picture": None}, 4),
    # The input was checked: what it is stands beside why the output was refused.
    (["invert", "a.bmp", "no/such/dir/o.bmp"],
     {"file": "no/such/dir/o.bmp", "kind": "refused", "result": None, "picture": A_PICTURE}, 4),
    # raw checks nothing.
    (["raw", "5", "0", "missing.bmp", "o.bmp"],
     {"file": "missing.bmp", "kind": "failed", "result": 123, "picture": None}, 2),
    (["raw", "11", "0", "a.bmp", "o.bmp"],
     {"file": "a.bmp", "kind": "failed", "result": 432, "reason": "result 432: the function number is not between 1 and 10",
      "picture": None}, 2),
    (["raw", "5", "0", "a.bmp", "no/such/dir/o.bmp"],
     {"file": "no/such/dir/o.bmp", "kind": "failed", "result": 124}, 2),
    (["raw", "10", "0", "a.bmp"],
     {"output": None, "kind": "succeeded", "result": 0}, 0),
]


@pytest.mark.parametrize("words, expected, status", SINGLE, ids=[" ".join(case[0]) for case in SINGLE])
def test_one_picture_gives_one_object_matching_the_lines(folder: Path, words, expected, status) -> None:
    plain = run_host(*words, cwd=folder)
    for name in ("o.bmp",):
        (folder / name).unlink(missing_ok=True)
    done = run_host("--report=json", *words, cwd=folder)
    assert done.returncode == status == plain.returncode
    (report,) = objects(done.stdout)
    assert {key: report[key] for key in expected} == expected
    assert report["exit_status"] == status
    # The host's own lines, the same with or without the report; the
    # library's messages move from stdout to stderr.
    host_lines = [line for line in plain.stderr.decode().splitlines() if line.startswith("tintwell: ")
                  and "warning" not in line]
    assert report["message"] == ("\n".join(host_lines) or None)
    assert plain.stdout.decode() in done.stderr.decode()


def test_a_batch_reports_every_picture_in_input_order(folder: Path) -> None:
    done = run_host("--report=json", "-q", "gray", "--out-dir", "out", "-j", "2", "--",
                    "r.bmp", "a.bmp", "missing.bmp", "b.bmp", cwd=folder)
    assert done.returncode == 4
    reports = objects(done.stdout)
    assert [(r["input"], r["kind"], r["result"]) for r in reports] == [
        ("r.bmp", "refused", None), ("a.bmp", "succeeded", 999), ("missing.bmp", "refused", None),
        ("b.bmp", "succeeded", 999)]
    assert [r["output"] for r in reports] == ["out/r.bmp", "out/a.bmp", "out/missing.bmp", "out/b.bmp"]
    # The summary stays on stderr.
    assert "4 pictures: 2 written, 2 failed (2 refused)" in done.stderr.decode()


def test_a_read_batch_and_the_library_messages_keep_off_stdout(folder: Path) -> None:
    done = run_host("--report=json", "--library-text", "read", "-j", "2", "a.bmp", "b.bmp", cwd=folder)
    assert done.returncode == 0
    assert [(r["input"], r["output"], r["result"], r["picture"]["width"]) for r in objects(done.stdout)] == [
        ("a.bmp", None, 0, 5), ("b.bmp", None, 0, 4)]
    # The library's own bytes, and what read found, on stderr.
    assert "파일 읽기 완료..5 x 3, 102byte" in done.stderr.decode()
    assert "a.bmp: a 5 x 3 24-bit BMP picture of 102 bytes" in done.stderr.decode()


def test_a_picture_whose_process_died_is_reported_by_the_batch(folder: Path) -> None:
    fake = Path(os.environ["TINTWELL_BUILD_DIR"]) / "tests/ecosystem/libtintwell_fake_module.so"
    if not fake.exists():
        pytest.skip("the stand-in library is not built")
    make_picture(folder / "killed.bmp", 2, 2)
    done = run_host("--report=json", "--module", str(fake), "invert", "--out-dir", "out", "killed.bmp", "a.bmp",
                    cwd=folder)
    reports = objects(done.stdout)
    assert [r["input"] for r in reports] == ["killed.bmp", "a.bmp"]
    assert reports[0]["kind"] == "failed" and reports[0]["result"] is None
    assert "killed by signal" in reports[0]["message"]


def test_demo_reports_each_edit(tmp_path: Path) -> None:
    done = run_host("--report=json", "-q", "demo", "d", cwd=tmp_path)
    assert done.returncode == 0
    reports = objects(done.stdout)
    assert len(reports) == 9 and {r["result"] for r in reports} == {999}


def test_names_are_escaped_json(folder: Path) -> None:
    name = 'q"\\ü\x01.bmp'
    (folder / name).write_bytes((folder / "a.bmp").read_bytes())
    (report,) = objects(run_host("--report=json", "read", name, cwd=folder).stdout)
    assert report["input"] == name


def test_the_message_is_english_whatever_the_locale(folder: Path) -> None:
    english = objects(run_host("--report=json", "invert", "r.bmp", "o.bmp", cwd=folder).stdout)
    environment = dict(os.environ, LANGUAGE="de", LANG="de_DE.UTF-8", LC_ALL="de_DE.UTF-8")
    import subprocess
    other = subprocess.run([os.environ["TINTWELL_PROGRAM"], "--report=json", "invert", "r.bmp", "o.bmp"],
                           cwd=folder, capture_output=True, env=environment)
    assert objects(other.stdout) == english
    assert english[0]["message"].startswith("tintwell: r.bmp: 64 bits per pixel; ")


@pytest.mark.parametrize("words", [["invert", "a.bmp", "-"], ["invert", "a.bmp", "/dev/stdout"],
                                   ["frobnicate", "a.bmp", "o.bmp"], ["invert", "--out-dir", "x", "a.bmp", "a.bmp"]])
def test_usage_errors_print_no_object(folder: Path, words) -> None:
    done = run_host("--report=json", *words, cwd=folder)
    assert done.returncode == 1
    assert done.stdout == b""


def documented_example(text: str) -> "tuple[list, list]":
    """The report example of a document: its command's words and the lines it shows."""
    lines = text.replace("\\-", "-").splitlines()
    start = next(at for at, line in enumerate(lines) if line.startswith("$ tintwell -q --report=json"))
    return lines[start].split()[2:], lines[start + 1:start + 3]


@pytest.mark.parametrize("document", ["README.md", "man/tintwell.1.in"])
def test_the_documented_example_is_what_the_program_prints(tmp_path: Path, document) -> None:
    words, shown = documented_example((Path(os.environ["TINTWELL_SOURCE_DIR"]) / document).read_text())
    make_picture(tmp_path / "a.bmp", 127, 64, 1)
    make_picture(tmp_path / "rgba64.bmp", 127, 64, 2)
    sixty_four_bits(tmp_path / "rgba64.bmp")
    done = run_host("-q", "--report=json", *words, cwd=tmp_path)
    assert done.stdout.decode().splitlines() == shown
