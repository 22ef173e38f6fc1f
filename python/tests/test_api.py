"""The package's API through the real program and library: edit, check,
batch and call, names of every form, and an exception for each way an edit
ends without its output."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import tintwell
from tintwell import errors
from conftest import held_program, leftovers, make_picture, run_host, stopped_below
from test_report import REFUSED_64, sixty_four_bits

NAMES = {
    "str": lambda path: str(path),
    "bytes": lambda path: os.fsencode(path),
    "PathLike": lambda path: Path(path),
}


@pytest.mark.parametrize("form", NAMES)
@pytest.mark.parametrize("name", ["plain.bmp", "사진 ü é.bmp", "-leading dash.bmp"])
def test_edit_takes_every_form_of_name_and_writes_what_the_program_writes(tmp_path: Path, form, name) -> None:
    make_picture(tmp_path / name, 7, 3)
    run_host("brighten", "40", "--", name, "expected.bmp", cwd=tmp_path)
    output = tmp_path / ("out " + name)
    report = tintwell.edit(NAMES[form](tmp_path / name), NAMES[form](output), "brighten", 40)
    assert (report.kind, report.result, report.exit_status) == ("succeeded", 999, 0)
    assert report.file == str(output)
    assert output.read_bytes() == (tmp_path / "expected.bmp").read_bytes()


@pytest.mark.parametrize("edit, amount", [("invert", None), (5, None), ("threshold", 128), (6, 128)])
def test_edit_by_name_or_number(tmp_path: Path, edit, amount) -> None:
    make_picture(tmp_path / "a.bmp")
    tintwell.edit(tmp_path / "a.bmp", tmp_path / "b.bmp", edit, amount)
    run_host(str(edit), *([] if amount is None else [str(amount)]), "a.bmp", "c.bmp", cwd=tmp_path)
    assert (tmp_path / "b.bmp").read_bytes() == (tmp_path / "c.bmp").read_bytes()


def test_edit_in_place(tmp_path: Path) -> None:
    make_picture(tmp_path / "a.bmp")
    make_picture(tmp_path / "b.bmp")
    tintwell.edit(tmp_path / "a.bmp", None, "invert", in_place=True)
    run_host("invert", "--in-place", "b.bmp", cwd=tmp_path)
    assert (tmp_path / "a.bmp").read_bytes() == (tmp_path / "b.bmp").read_bytes()
    with pytest.raises(tintwell.UsageError):
        tintwell.edit(tmp_path / "a.bmp", tmp_path / "c.bmp", "invert", in_place=True)


@pytest.mark.parametrize("words, cls", [(("frobnicate",), tintwell.UsageError), (("brighten",), tintwell.UsageError),
                                        (("copy", 3), tintwell.UsageError)])
def test_usage_errors_raise(tmp_path: Path, words, cls) -> None:
    make_picture(tmp_path / "a.bmp")
    with pytest.raises(cls):
        tintwell.edit(tmp_path / "a.bmp", tmp_path / "b.bmp", *words)
    assert not (tmp_path / "b.bmp").exists()


def test_a_refused_picture_raises_with_its_line(tmp_path: Path) -> None:
    make_picture(tmp_path / "r.bmp")
    sixty_four_bits(tmp_path / "r.bmp")
    with pytest.raises(tintwell.RefusedError) as raised:
        tintwell.edit(tmp_path / "r.bmp", tmp_path / "o.bmp", "invert")
    error = raised.value
    assert (error.kind, error.result, error.exit_status, error.file) == ("refused", None, 4, str(tmp_path / "r.bmp"))
    assert "64 bits per pixel" in error.message and str(error) == error.message
    assert not (tmp_path / "o.bmp").exists()


# (interposer rule, the exception, its result code): the library made to fail
# inside the real program, by the fault interposer.
LIBRARY_FAILURES = [
    ("op=write,path=/proc/self/fd/,fail=ENOSPC", tintwell.SaveFailedError, 124),
    ("op=read,path=/proc/self/fd/,fail=EIO", tintwell.LoadFailedError, 123),
]


@pytest.mark.parametrize("rule, cls, result", LIBRARY_FAILURES)
def test_library_failures_raise_their_class(tmp_path: Path, monkeypatch, rule, cls, result) -> None:
    make_picture(tmp_path / "a.bmp")
    make_picture(tmp_path / "o.bmp", seed=9)
    before = (tmp_path / "o.bmp").read_bytes()
    monkeypatch.setenv("TINTWELL_PROGRAM", str(held_program(tmp_path, rule)))
    with pytest.raises(cls) as raised:
        tintwell.edit(tmp_path / "a.bmp", tmp_path / "o.bmp", "invert")
    assert (raised.value.result, raised.value.exit_status) == (result, 2)
    assert isinstance(raised.value, tintwell.EditFailedError)
    assert (tmp_path / "o.bmp").read_bytes() == before
    assert leftovers(tmp_path) == []


def test_an_input_changed_during_the_call_raises(tmp_path: Path, monkeypatch) -> None:
    make_picture(tmp_path / "a.bmp", 6, 6)
    monkeypatch.setenv("TINTWELL_PROGRAM", str(held_program(tmp_path, "op=write,path=/proc/self/fd/,nth=1,stop")))
    raised = []
    worker = threading.Thread(target=lambda: raised.append(pytest.raises(tintwell.InputChangedError, tintwell.edit,
                                                                         tmp_path / "a.bmp", tmp_path / "o.bmp",
                                                                         "invert")))
    worker.start()
    held = wait_for_stopped(os.getpid())
    with open(tmp_path / "a.bmp", "r+b") as picture:  # another program writes the input meanwhile
        picture.seek(60)
        picture.write(b"\x01\x02\x03")
    os.kill(held, signal.SIGCONT)
    worker.join()
    assert raised[0].value.exit_status == 5 and raised[0].value.kind == "input-changed"
    assert not (tmp_path / "o.bmp").exists()


def wait_for_stopped(ancestor: int) -> int:
    """The process below `ancestor` that the interposer holds, once it is held."""
    for _ in range(1000):
        found = stopped_below(ancestor)
        if found:
            return found[0]
        time.sleep(0.01)
    raise AssertionError("no process was held")


@pytest.mark.parametrize("kind, result, cls", [
    ("refused", None, tintwell.RefusedError), ("input-changed", 999, tintwell.InputChangedError),
    ("failed", 123, tintwell.LoadFailedError), ("failed", 124, tintwell.SaveFailedError),
    ("failed", 432, tintwell.RejectedError), ("failed", -1, tintwell.AllocationFailedError),
    ("failed", None, tintwell.EditFailedError), ("failed", 999, tintwell.EditFailedError)])
def test_each_kind_and_result_has_its_exception(kind, result, cls) -> None:
    report = tintwell.Report("a.bmp", "o.bmp", "a.bmp", kind, result, 2, "tintwell: a.bmp: why")
    error = report.error()
    assert type(error) is cls and (error.result, error.file, error.message) == (result, "a.bmp", "tintwell: a.bmp: why")
    with pytest.raises(cls):
        report.raise_for_outcome()


def test_the_program_s_rejected_result_maps_to_rejected(tmp_path: Path) -> None:
    make_picture(tmp_path / "a.bmp")
    import json
    line = run_host("--report=json", "raw", "11", "0", "a.bmp", "o.bmp", cwd=tmp_path).stdout
    assert type(tintwell.Report(**json.loads(line)).error()) is tintwell.RejectedError


def other_kind(path: Path, mode: str) -> Path:
    """A 5 x 3 picture of another BMP kind, as Pillow writes it: "P" an
    8-bit palette, "RGBA" 32 bits per pixel."""
    image = pytest.importorskip("PIL.Image")
    image.new(mode, (5, 3)).save(path, "BMP")
    return path


def refused_picture(path: Path) -> Path:
    make_picture(path)
    return sixty_four_bits(path)


# (how the file is made, what check finds: editable, width, height, bits
# per pixel, through a copy; the reason when not editable)
CHECKS = {
    "24-bit": (lambda path: make_picture(path, 7, 3), (True, 7, 3, 24, False), None),
    # The library reads a palette's one-row copy: the picture is still 5 x 3.
    "palette": (lambda path: other_kind(path, "P"), (True, 5, 3, 8, True), None),
    "32-bit": (lambda path: other_kind(path, "RGBA"), (True, 5, 3, 32, True), None),
    "64-bit": (refused_picture, (False,) + (None,) * 4, REFUSED_64),
    "missing": (lambda path: None, (False,) + (None,) * 4, "no such file"),
}


@pytest.mark.parametrize("kind", CHECKS)
def test_check_says_what_the_picture_is_from_the_report_s_fields(tmp_path: Path, monkeypatch, kind) -> None:
    make, expected, reason = CHECKS[kind]
    path = tmp_path / "p.bmp"
    make(path)
    # Whatever language the messages are in, check reads numbers.
    monkeypatch.setenv("LANGUAGE", "ko")
    monkeypatch.setenv("LC_ALL", "ko_KR.UTF-8")
    found = tintwell.check(os.fsencode(path))
    assert (found.editable, found.width, found.height, found.bits_per_pixel, found.through_copy) == expected
    assert found.reason == reason
    assert found.file_size == (path.stat().st_size if found.editable else None)


def test_batch_reports_each_picture_without_raising(tmp_path: Path) -> None:
    names = ["b.bmp", "a ü.bmp", "r.bmp"]
    for seed, name in enumerate(names):
        make_picture(tmp_path / name, 3 + seed, 2, seed)
    sixty_four_bits(tmp_path / "r.bmp")
    reports = tintwell.batch([tmp_path / name for name in names], "darken", 30, out_dir=tmp_path / "out", jobs=2)
    assert [(Path(r.input).name, r.kind) for r in reports] == [("b.bmp", "succeeded"), ("a ü.bmp", "succeeded"),
                                                                 ("r.bmp", "refused")]
    assert isinstance(reports[2].error(), tintwell.RefusedError)
    run_host("darken", "30", "--out-dir", "expected", "-j", "1", "--", *names, cwd=tmp_path)
    for name in names[:2]:
        assert (tmp_path / "out" / name).read_bytes() == (tmp_path / "expected" / name).read_bytes()
    checks = tintwell.batch([tmp_path / "b.bmp", tmp_path / "r.bmp"], "read")
    assert [(r.kind, r.result) for r in checks] == [("succeeded", 0), ("refused", None)]
    in_place = tintwell.batch([os.fsencode(tmp_path / "b.bmp")], "copy", in_place=True)
    assert in_place[0].succeeded and tintwell.batch([], "copy", in_place=True) == []


def test_a_batch_the_program_refuses_raises(tmp_path: Path) -> None:
    make_picture(tmp_path / "a.bmp")
    with pytest.raises(tintwell.UsageError, match="would overwrite the input"):
        tintwell.batch([tmp_path / "a.bmp"], "invert", out_dir=tmp_path)


def test_ctrl_c_during_an_edit_raises_keyboard_interrupt_and_leaves_nothing(tmp_path: Path) -> None:
    make_picture(tmp_path / "a.bmp", 64, 64)
    script = ("import sys, tintwell\n"
              "try:\n"
              "    tintwell.edit('a.bmp', 'o.bmp', 'invert')\n"
              "except KeyboardInterrupt:\n"
              "    print('KeyboardInterrupt')\n"
              "    sys.exit(130)\n")
    environment = dict(os.environ, TINTWELL_PROGRAM=str(held_program(tmp_path, "op=write,path=/proc/self/fd/,nth=1,stop")))
    python = subprocess.Popen([sys.executable, "-c", script], cwd=tmp_path, env=environment, stdout=subprocess.PIPE)
    held = wait_for_stopped(python.pid)
    python.send_signal(signal.SIGINT)
    # Once the SIGINT passed on is waiting at the held program, let it go on.
    for _ in range(1000):
        if signal_pending(held, signal.SIGINT):
            break
        time.sleep(0.01)
    os.kill(held, signal.SIGCONT)
    stdout, _ = python.communicate(timeout=60)
    assert (python.returncode, stdout) == (130, b"KeyboardInterrupt\n")
    assert sorted(path.name for path in tmp_path.iterdir()) == ["a.bmp", "held-runs", "held-tintwell"]


def signal_pending(pid: int, number: int) -> bool:
    for line in Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(("SigPnd:", "ShdPnd:")) and int(line.split()[1], 16) >> (number - 1) & 1:
            return True
    return False


@pytest.mark.in_process
@pytest.mark.parametrize("form", NAMES)
def test_call_is_the_library_exactly(tmp_path: Path, form) -> None:
    name = tmp_path / "사진.bmp"
    make_picture(name, 5, 2)
    output = tmp_path / "out.bmp"
    assert tintwell.call(NAMES[form](name), NAMES[form](output), 40, 2) == errors.RESULT_WRITTEN
    run_host("raw", "2", "40", str(name), "raw.bmp", cwd=tmp_path)
    assert output.read_bytes() == (tmp_path / "raw.bmp").read_bytes()
    assert tintwell.call(name, None, 0, 10) == errors.RESULT_EXITED
    assert tintwell.call(tmp_path / "missing.bmp", output, 0, 1) == errors.RESULT_LOAD_FAILED
    assert tintwell.call(name, output, 0, 11) == errors.RESULT_REJECTED
    assert tintwell.call(name, tmp_path / "no" / "o.bmp", 0, 1) == errors.RESULT_SAVE_FAILED
    # A name that is not UTF-8 is refused by the library, never cut.
    assert tintwell.call(os.fsencode(tmp_path) + b"/\xff.bmp", output, 0, 1) == errors.RESULT_LOAD_FAILED


def test_the_constants_are_the_header_s_and_the_help_s(source_dir: Path, program: str) -> None:
    header = (source_dir / "include/korvane/tintwell.h").read_text()
    for name in ("WRITTEN", "EXITED", "LOAD_FAILED", "ALLOCATION_FAILED", "REJECTED", "SAVE_FAILED"):
        assert f"TINTWELL_RESULT_{name} = {getattr(errors, 'RESULT_' + name)}" in header
    import re
    help_text = subprocess.run([program, "--help"], capture_output=True, text=True).stdout
    listed = {m[0]: (int(m[1]), bool(m[2])) for m in re.findall(r"^  ([a-z-]+) \| (\d+)( AMOUNT)?", help_text, re.M)}
    assert listed == tintwell.EDITS
    messages = (source_dir / "processing/messages.h").read_text()
    assert "파일 읽기 완료..%d x %d, %dbyte" in messages
