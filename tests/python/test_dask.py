"""solvik.dask.thin_files: a dozen files, one of them bad, on a LocalCluster
of two worker processes and on the local thread pool. The good results are
written and equal solvik.thin, the bad file is reported, nothing is lost."""

import os

import numpy as np
import pytest

import solvik
from support import blobs, cli_available, read_result, write_asc, write_bmp, write_raw

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
    assert [r.input for r in results] == paths
    for k, (result, picture) in enumerate(zip(results, pictures)):
        if k == 7:
            assert result.output is None and "picture 7.bmp" in result.error, result
            continue
        assert result.error is None, result
        assert result.output == os.path.join(out_folder, f"picture {k}_reg{os.path.splitext(paths[k])[1]}")
        np.testing.assert_array_equal(read_result(result.output, *picture.shape),
                                      solvik.thin(picture, WINDOW, frame="pad"))
    assert results[12].output is None and "would replace" in results[12].error
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
        results = solvik.dask.thin_files(paths, out_folder, WINDOW, frame="pad", client=client, timeout=60)
        # a client that is current is found without being passed
        again = solvik.dask.thin_files(paths[:2], str(tmp_path / "again"), WINDOW, frame="pad", timeout=60)
    check(results, paths, pictures, out_folder)
    assert all(r.output for r in again)


@needs_cli
def test_the_local_thread_pool_without_a_cluster(files, tmp_path):
    pytest.importorskip("dask.bag")
    paths, pictures = files
    out_folder = str(tmp_path / "out")
    check(solvik.dask.thin_files(paths, out_folder, WINDOW, frame="pad", timeout=60), paths, pictures, out_folder)


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
