"""solvik.dask: stacks of images against a loop of single calls; thin_files
on a dozen files, one of them bad, on a LocalCluster of two worker processes
and on the local thread pool (the good results are written and equal
solvik.thin, the bad file is reported, nothing is lost); the plan of every
output before any run; runs stopped at their timeout leave nothing."""

import os
import sys
import textwrap
import time

import numpy as np
import pytest

import solvik
from support import blobs, cli_available, read_result, write_asc, write_bmp, write_raw  # noqa: F401

PROGRAM = os.environ.get("SOLVIK_PROGRAM")
needs_cli = pytest.mark.skipif(not cli_available(PROGRAM), reason="the program's command line is not built")

WINDOW = (110, 255)


@pytest.fixture
def files(tmp_path):
    """Twelve pictures in the three formats, the eighth a BMP cut short,
    plus one whose stem repeats another's in a second folder."""
    folder = tmp_path / "in"
    (folder / "other").mkdir(parents=True)
    paths, pictures = [], []
    for k in range(12):
        write, ext = [(write_raw, ".raw"), (write_bmp, ".bmp"), (write_asc, ".asc")][k % 3]
        picture = blobs(100 + k, 20 + k, 31 - k)
        path = str(folder / f"picture {k}{ext}")
        write(path, picture)
        if k == 7:
            data = open(path, "rb").read()
            open(path, "wb").write(data[: len(data) // 2])
        paths.append(path)
        pictures.append(picture)
    write_raw(str(folder / "other" / "picture 0.raw"), pictures[0])
    paths.append(str(folder / "other" / "picture 0.raw"))
    return paths, pictures


def check(results, paths, pictures, out_folder):
    paths = paths[:12]  # the thirteenth shares a result name: refused before any run
    assert [r.input for r in results] == paths
    for k, (result, picture) in enumerate(zip(results, pictures)):
        if k == 7:
            assert result.output is None and "picture 7.bmp" in result.error, result
            continue
        assert result.error is None, result
        assert result.output == os.path.join(out_folder, f"picture {k}_reg{os.path.splitext(paths[k])[1]}")
        np.testing.assert_array_equal(read_result(result.output, *picture.shape),
                                      solvik.thin(picture, WINDOW, frame="pad"))
    assert sorted(os.listdir(out_folder)) == sorted(
        [os.path.basename(r.output) for r in results if r.output] + ["picture 0_reg.txt", "picture 3_reg.txt",
                                                                      "picture 6_reg.txt", "picture 9_reg.txt"])


@needs_cli
def test_a_local_cluster_of_two_processes(files, tmp_path):
    distributed = pytest.importorskip("distributed")
    paths, pictures = files
    out_folder = str(tmp_path / "out")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        results = solvik.dask.thin_files(paths[:12], out_folder, WINDOW, frame="pad", client=client, timeout=60)
        # a client that is current is found without being passed
        again = solvik.dask.thin_files(paths[:2], str(tmp_path / "again"), WINDOW, frame="pad", timeout=60)
        # stacks run in the workers' processes
        stack = np.stack([blobs(k, 30, 20) for k in range(5)])
        on_workers = solvik.dask.thin(stack, WINDOW, frame="pad").compute()
    check(results, paths, pictures, out_folder)
    np.testing.assert_array_equal(on_workers, [solvik.thin(p, WINDOW, frame="pad") for p in stack])
    assert all(r.output for r in again)


@needs_cli
def test_the_local_thread_pool_without_a_cluster(files, tmp_path):
    pytest.importorskip("dask.bag")
    paths, pictures = files
    out_folder = str(tmp_path / "out")
    check(solvik.dask.thin_files(paths[:12], out_folder, WINDOW, frame="pad", timeout=60), paths, pictures, out_folder)


def test_settings_and_the_program_are_checked_before_any_run(tmp_path):
    with pytest.raises(ValueError, match="MIN is above its MAX"):
        solvik.dask.thin_files(["a.raw"], str(tmp_path), (200, 100))
    with pytest.raises(ValueError, match="unknown frame mode"):
        solvik.dask.thin_files(["a.raw"], str(tmp_path), frame="wrap")
    missing = solvik.dask.thin_file("a.raw", str(tmp_path), program=str(tmp_path / "nowhere"))
    assert missing.output is None and "not found" in missing.error


@pytest.mark.parametrize("workers, shares", [
    ({"tcp://10.0.0.5:1": (1, 8), "tcp://10.0.0.5:2": (1, 8)}, {"10.0.0.5": 4}),  # two processes, one machine
    ({"tcp://a:1": (4, 2)}, {"a": 1}),                                             # more runs than cores
    ({"tcp://a:1": (2, 16), "tcp://b:1": (1, 4)}, {"a": 8, "b": 4}),               # machines apart
    ({"tcp://[::1]:8786": (3, 8)}, {"[::1]": 2}),
    ({"inproc://host/7/1": (1, None)}, {"host/7/1": 1}),                           # cores unknown
])
def test_runs_side_by_side_share_their_machines_cores(workers, shares):
    assert solvik.dask._core_shares(workers) == shares


@needs_cli
def test_the_local_pool_gives_each_run_its_share_unless_a_count_is_given(tmp_path, monkeypatch):
    pytest.importorskip("dask.bag")
    seen = []

    def fake(path, out_folder, options=(), **settings):
        seen.append(tuple(options))
        return solvik.dask.FileResult(path, None, "not run")

    monkeypatch.setattr(solvik.dask, "thin_file", fake)
    monkeypatch.setattr(os, "cpu_count", lambda: 8)
    monkeypatch.delenv("SOLVIK_THREADS", raising=False)
    paths = [f"p{k}.raw" for k in range(4)]
    for options, env, want in [((), None, ("--threads", "2")),
                               (("--threads", "3"), None, ()),
                               ((), "5", ())]:
        if env:
            monkeypatch.setenv("SOLVIK_THREADS", env)
        seen.clear()
        solvik.dask.thin_files(paths, str(tmp_path), options=options)
        assert seen == [tuple(options) + want] * 4, (options, env)


# --- stacks ----------------------------------------------------------------

def test_a_stack_gives_what_a_loop_of_single_calls_gives():
    da = pytest.importorskip("dask.array")
    pictures = np.stack([blobs(30 + k, 41, 37) for k in range(7)])
    cases = [  # chunks, dtype, settings
        ((2, 41, 37), np.uint8, dict(window=(120, 255))),
        ((3, 10, 20), np.float32, dict(window=(100.5, 200), values=(255, 0))),  # cut images
        ((7, 41, 37), np.int64, dict(window=(0, 90), threads=1, frame="keep", as_dialogue=True)),
        ((1, 41, 5), bool, dict(frame="pad")),  # a bool stack: its True pixels
    ]
    for chunks, dtype, settings in cases:
        stack = pictures > 128 if dtype is bool else pictures.astype(dtype)
        got = solvik.dask.thin(da.from_array(stack, chunks=chunks), **settings)
        assert got.chunks[1:] == ((41,), (37,)), chunks
        expected = np.stack([solvik.thin(p, **settings) for p in stack])
        np.testing.assert_array_equal(got.compute(scheduler="threads"), expected, err_msg=str(chunks))
        kind = {k: settings[k] for k in ("frame", "as_dialogue") if k in settings}
        skeletons = solvik.dask.skeletonize(da.from_array(stack, chunks=chunks), **kind)
        np.testing.assert_array_equal(skeletons.compute(scheduler="threads"),
                                      np.stack([solvik.skeletonize(p, **kind) for p in stack]))
    # a NumPy stack, and an empty one
    np.testing.assert_array_equal(solvik.dask.thin(pictures[:2]).compute(), [solvik.thin(p) for p in pictures[:2]])
    assert solvik.dask.skeletonize(np.zeros((0, 4, 5), bool)).compute().shape == (0, 4, 5)


def test_a_stacks_settings_are_checked_at_once():
    pytest.importorskip("dask.array")
    for call, error, words in [
        (lambda: solvik.dask.thin(np.zeros((4, 5))), ValueError, "3-D"),
        (lambda: solvik.dask.thin(np.zeros((2, 4, 5)), (9, 1)), ValueError, "MIN is above its MAX"),
        (lambda: solvik.dask.skeletonize(np.zeros((2, 4, 5)), frame="wrap"), ValueError, "unknown frame mode"),
        (lambda: solvik.dask.thin(np.zeros((2, 4, 5), complex)), TypeError, "complex"),
    ]:
        with pytest.raises(error, match=words):
            call()


# --- the plan of every output ------------------------------------------------

PLANS = [  # inputs, out folder, options, the two names the refusal gives (None: accepted)
    (["d/a.png", "d/a_reg.png"], "d", (), ("d/a.png", "d/a_reg.png")),
    (["d/a.png", "e/a.png"], "o", (), ("e/a.png", "d/a.png")),
    (["d/a.raw", "d/a_reg.txt"], "d", (), ("d/a.raw", "d/a_reg.txt")),  # a result's descriptor
    (["d/a.png", "d/b.png"], "d", ("--summary", "d/b.png"), None),        # graph files are named per file
    (["d/a.png", "d/a_reg.summary.csv"], "d", ("--summary=s.csv",), ("d/a.png", "d/a_reg.summary.csv")),
    (["d/a.png", "d/a_reg.branches.shx"], "d", ("--vector", "v.shp"), ("d/a.png", "d/a_reg.branches.shx")),
    (["d/a.png", "d/b.png", "d/c.png"], "o", ("--nodes", "n.gpkg", "--vector", "v.gpkg"), None),
    (["d/t\tb\\n\n.png", "d/-x.png"], "o", ("--summary=s.csv",), None),  # names the plan escapes
]


@needs_cli
@pytest.mark.parametrize("inputs, out_folder, options, refused", PLANS, ids=[str(p[0]) + str(p[2]) for p in PLANS])
def test_every_output_is_planned_before_any_run(tmp_path, monkeypatch, inputs, out_folder, options, refused):
    monkeypatch.chdir(tmp_path)
    for path in inputs:
        os.makedirs(os.path.dirname(path), exist_ok=True)
        open(path, "wb").close()
    ran = []
    monkeypatch.setattr(solvik.dask, "thin_file", lambda path, *a, **k: ran.append(path))
    if refused is None:
        plans = solvik.dask.plan_outputs(inputs, out_folder, options=options)
        plan = solvik.dask._plan(inputs, out_folder, None, options)
        written = [f for _, role, f in plan if role != "read"]
        assert len(set(written)) == len(written) and not set(written) & set(inputs)
        # each run's own options name the files the plan gives it
        assert sorted(o for _, per_file in plans for o in per_file if o in written) == sorted(
            f for _, role, f in plan if role in ("branches", "nodes", "summary"))
        assert [output for output, _ in plans] == [f for _, role, f in plan if role == "result"] == [
            os.path.join(out_folder, os.path.splitext(os.path.basename(p))[0] + "_reg.png") for p in inputs]
        return
    before = sorted(os.walk(tmp_path))
    with pytest.raises(ValueError) as refusal:
        solvik.dask.thin_files(inputs, out_folder, options=options)
    assert all(name in str(refusal.value) for name in refused), str(refusal.value)
    assert ran == [] and sorted(os.walk(tmp_path)) == before


@needs_cli
def test_graph_files_are_written_per_file(files, tmp_path):
    paths, _ = files
    out_folder = str(tmp_path / "out")
    results = solvik.dask.thin_files(paths[:2], out_folder, WINDOW, options=["--summary", "s.csv"], timeout=60)
    assert all(r.output for r in results), results
    summaries = sorted(f for f in os.listdir(out_folder) if f.endswith(".csv"))
    assert summaries == ["picture 0_reg.summary.csv", "picture 1_reg.summary.csv"]
    assert not os.path.exists("s.csv") and not os.path.exists(os.path.join(out_folder, "s.csv"))


# --- runs stopped at their timeout --------------------------------------------

STOPPABLE = """
    import os, signal, sys, time
    if "--plan" in sys.argv:  # the result's name, as the program plans it
        print("a.png\\tresult\\t" + os.path.join(sys.argv[sys.argv.index("-o") + 1], "a_reg.png"))
        sys.exit(0)
    temporary = os.path.join(os.path.dirname(sys.argv[-1]), ".partial")
    open(temporary, "w").close()
    def stop(*_):
        os.remove(temporary)
        sys.exit(143)
    signal.signal(signal.SIGTERM, stop if {removes} else signal.SIG_IGN)
    time.sleep(60)
"""


@pytest.mark.parametrize("removes", [True, False], ids=["ends on SIGTERM", "ignores SIGTERM"])
def test_a_run_past_its_timeout_is_asked_to_stop_first(tmp_path, monkeypatch, removes):
    program = tmp_path / "program"
    program.write_text(f"#!{sys.executable}\n" + textwrap.dedent(STOPPABLE.format(removes=removes)))
    program.chmod(0o755)
    monkeypatch.setattr(solvik.dask, "GRACE_SECONDS", 1.0)
    out = tmp_path / "out"
    start = time.monotonic()
    result = solvik.dask.thin_file("a.png", str(out), program=str(program), timeout=1.0)
    took = time.monotonic() - start
    assert result.output is None and "stopped after 1.0 s" in result.error
    # SIGTERM let it clean up; only a run that ignored it was killed, a grace period later
    assert os.listdir(out) == ([] if removes else [".partial"])
    assert (took < 1.9) if removes else (took >= 2.0), took


@needs_cli
def test_the_program_stopped_at_its_timeout_leaves_no_temporary(tmp_path, monkeypatch):
    """A big picture written as a vector file, stopped at several points of
    its run: no hidden .gpkg nor its journal stays. A run killed at once at
    the same point (no grace) leaves them: the control that the point was
    inside the writing."""
    source = tmp_path / "in" / "big.raw"
    source.parent.mkdir()
    write_raw(str(source), blobs(9, 1500, 1500) > 128)  # 0 and 1: many branches to write
    out = tmp_path / "out"
    vector = ["--vector", str(out / "v.gpkg")]
    start = time.monotonic()
    probe = solvik.dask.thin_file(str(source), str(out), (1, 1), options=vector, timeout=120)
    took = time.monotonic() - start
    if probe.error:
        pytest.skip(f"no vector file: {probe.error}")

    def temporaries():
        return [f for f in os.listdir(out) if f.startswith(".") or f.endswith("-journal")]

    inside_the_writing, graces = 0, (0.0, solvik.dask.GRACE_SECONDS)
    for part in (0.3, 0.45, 0.6, 0.75, 0.9):
        for grace in graces:
            for f in os.listdir(out):
                os.remove(out / f)
            monkeypatch.setattr(solvik.dask, "GRACE_SECONDS", grace)
            result = solvik.dask.thin_file(str(source), str(out), (1, 1), options=vector, timeout=part * took)
            if grace:
                assert not temporaries(), (part, os.listdir(out))
            else:
                inside_the_writing += bool(result.error and temporaries())
    if not inside_the_writing:
        pytest.skip("no run was stopped while it wrote its vector file")


@needs_cli
@pytest.mark.parametrize("as_dialogue", [False, True])
def test_the_batch_gives_the_module_s_skeleton_by_default_and_as_the_dialogue(tmp_path, as_dialogue):
    pytest.importorskip("dask.bag")
    picture = blobs(5, 37, 41)
    source = str(tmp_path / "p.raw")
    write_raw(source, picture)
    [result] = solvik.dask.thin_files([source], str(tmp_path / "out"), as_dialogue=as_dialogue, timeout=60)
    assert result.error is None, result.error
    expected = solvik.thin(picture, (128, 255), as_dialogue=as_dialogue)
    np.testing.assert_array_equal(read_result(result.output, *picture.shape), expected)
