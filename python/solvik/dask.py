"""Thinning many image files at once, on this machine's cores or on any Dask
cluster.

    thin_files(paths, out_folder, window=(128, 255), *, frame="keep",
               values=(1, 255), fmt=None, options=(), program=None,
               client=None, timeout=None)        -> [FileResult, ...]
    thin_file(path, out_folder, ...)             -> FileResult   (one file)
    find_program(program=None)                   -> path of the solvik program

Each file is one run of the `solvik` program (`solvik [OPTIONS] INPUT
OUTPUT`), so every format, band and georeferencing rule of the command line
holds, and a result is byte for byte what the command line writes. The result
of `dir/name.ext` is `out_folder/name_reg.ext` (or `.fmt`), as in the program's
many-images form.

Nothing is lost: every input gets a FileResult(input, output, error) in the
order given, `output` the written path when the run succeeded, else `error`
the program's message (or why the run could not happen: a worker lost, a
timeout, two inputs whose results would share one name). A failed file never
stops the others.

On a cluster the workers run the program and read and write the files, so
the paths and `out_folder` must mean the same on every worker (a shared file
system), and `program` is looked up on each worker.

Runs side by side on one machine share its cores: each run's thinning gets
`--threads` cores / runs at once (at least 1), unless `options` hold
`--threads` or SOLVIK_THREADS is set where the program runs.
"""

import collections
import os
import shutil
import subprocess

__all__ = ["FileResult", "find_program", "result_path", "thin_file", "thin_files"]

FileResult = collections.namedtuple("FileResult", "input output error")
FileResult.__doc__ = "The outcome of one file: `output` the result's path, or `error` why there is none."


def find_program(program=None):
    """The path of the solvik program: `program` when given, else the
    environment variable SOLVIK_PROGRAM, else the program installed (or built)
    with this package, else `solvik` on PATH. FileNotFoundError says what was
    tried when none is there."""
    tried = []
    candidates = []
    if program:
        candidates.append(("the given program", os.fspath(program)))
    else:
        if os.environ.get("SOLVIK_PROGRAM"):
            candidates.append(("SOLVIK_PROGRAM", os.environ["SOLVIK_PROGRAM"]))
        try:
            from . import _program

            here = os.path.dirname(os.path.abspath(__file__))
            beside = os.path.normpath(os.path.join(here, _program.PROGRAM)) if _program.RELATIVE else _program.PROGRAM
            candidates.append(("the program of this package's build or prefix", beside))
        except ImportError:
            pass
        on_path = shutil.which("solvik")
        if on_path:
            candidates.append(("PATH", on_path))
    for source, path in candidates:
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
        tried.append(f"{path} ({source})")
    if not program:
        tried.append("solvik on PATH")
    raise FileNotFoundError("the solvik program was not found; tried " + ", ".join(tried) +
                            "; pass program= or set SOLVIK_PROGRAM")


def result_path(path, out_folder, fmt=None):
    """out_folder/<stem of path>_reg<.fmt or path's own extension>."""
    stem, ext = os.path.splitext(os.path.basename(os.fspath(path)))
    if fmt:
        ext = fmt if fmt.startswith(".") else "." + fmt
    return os.path.join(os.fspath(out_folder), stem + "_reg" + ext)


def _number(v):
    return repr(float(v)) if isinstance(v, float) and not float(v).is_integer() else str(int(v))


def _window_word(window):
    if isinstance(window, str):  # "MIN:MAX", "dark", "bright": the program checks them
        return window
    lo, hi = window
    if lo > hi:
        raise ValueError(f"the window's MIN is above its MAX: {window!r}")
    return f"{_number(lo)}:{_number(hi)}"


def _arguments(window, frame, values, options):
    if frame not in ("keep", "pad"):
        raise ValueError(f"unknown frame mode {frame!r}: use 'keep' or 'pad'")
    skeleton, background = values
    return ["-q", "-w", _window_word(window), "--frame", frame,
            "--values", f"{int(skeleton)}:{int(background)}", *[str(o) for o in options]]


def thin_file(path, out_folder, window=(128, 255), *, frame="keep", values=(1, 255), fmt=None, options=(),
              program=None, timeout=None, output=None):
    """Thins one file with the program; never raises (see FileResult)."""
    path = os.fspath(path)
    try:
        output = output or result_path(path, out_folder, fmt)
        command = [find_program(program), *_arguments(window, frame, values, options), path, output]
        os.makedirs(os.fspath(out_folder), exist_ok=True)
        run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             errors="replace", timeout=timeout)
    except subprocess.TimeoutExpired:
        return FileResult(path, None, f"{path}: stopped after {timeout} s")
    except Exception as e:  # a missing program, a folder that cannot be made, ...
        return FileResult(path, None, f"{path}: {e}")
    if run.returncode == 0 and os.path.isfile(output):
        return FileResult(path, output, None)
    message = run.stderr.strip() or run.stdout.strip() or "no message"
    return FileResult(path, None, f"{message} (exit status {run.returncode})")


def _threads_given(options):
    return bool(os.environ.get("SOLVIK_THREADS")) or any(
        str(o) == "--threads" or str(o).startswith("--threads=") for o in options)


def _host(address):
    """The machine of a worker address: "tcp://10.0.0.5:40123" -> "10.0.0.5"."""
    rest = address.split("://", 1)[-1]
    return rest.rsplit(":", 1)[0] if ":" in rest else rest


def _core_shares(workers):
    """{machine: threads for one run} from {worker address: (runs it takes
    at once, cores of its machine)}: the runs side by side on a machine share
    its cores, at least one thread each."""
    runs, cores = {}, {}
    for address, (at_once, machine_cores) in workers.items():
        host = _host(address)
        runs[host] = runs.get(host, 0) + max(1, int(at_once))
        cores[host] = max(1, int(machine_cores or 1))
    return {host: max(1, cores[host] // runs[host]) for host in runs}


def _cluster_shares(client):
    try:
        at_once, cores = client.nthreads(), client.run(os.cpu_count)
        return _core_shares({a: (n, cores.get(a)) for a, n in at_once.items()})
    except Exception:  # a cluster that cannot say: every run takes its machine's cores
        return None


def _thin_with_share(path, out_folder, shares=None, options=(), **settings):
    """thin_file on a worker, with its machine's share of the cores."""
    if shares and not _threads_given(options):
        from distributed import get_worker

        share = shares.get(_host(get_worker().address))
        if share:
            options = (*options, "--threads", str(share))
    return thin_file(path, out_folder, options=options, **settings)


def _current_client():
    try:
        from distributed import get_client

        return get_client()
    except (ImportError, ValueError):
        return None


def thin_files(paths, out_folder, window=(128, 255), *, frame="keep", values=(1, 255), fmt=None, options=(),
               program=None, client=None, timeout=None):
    """Thins every file of `paths` into `out_folder`, in parallel.

    paths       image files (every format the program reads)
    out_folder  where the results go (made when missing)
    window      (MIN, MAX), or a word the program takes ("dark", "bright",
                "MIN:MAX")
    frame, values, fmt  as the program's --frame, --values, --format
    options     more program options, e.g. ["--band", "2"]
    program     the program's path (see find_program), looked up by the worker
    client      a distributed.Client; default the current client, or else a
                local thread pool (each file is a process of its own)
    timeout     seconds one file may take (None: no limit)

    Returns one FileResult per path, in the order of `paths`.
    """
    paths = [os.fspath(p) for p in paths]
    settings = dict(window=window, frame=frame, values=tuple(values), fmt=fmt, options=tuple(options),
                    program=program, timeout=timeout)
    _arguments(window, frame, values, options)  # a bad setting fails here, once, not once a file
    os.makedirs(os.fspath(out_folder), exist_ok=True)

    # two inputs of the same stem would write one result: the later ones are
    # reported instead of run
    results = [None] * len(paths)
    taken = {}
    todo = []
    for k, path in enumerate(paths):
        output = os.path.abspath(result_path(path, out_folder, fmt))
        if output in taken:
            results[k] = FileResult(path, None, f"{path}: its result {output} would replace that of {taken[output]}")
        else:
            taken[output] = path
            todo.append(k)

    client = client or _current_client()
    if client is not None:
        futures = client.map(_thin_with_share, [paths[k] for k in todo], out_folder=out_folder,
                             shares=_cluster_shares(client), pure=False, **settings)
        for k, future in zip(todo, futures):
            try:
                results[k] = future.result()
            except Exception as e:  # a lost worker, a cancelled task: reported, not lost
                results[k] = FileResult(paths[k], None, f"{paths[k]}: {type(e).__name__}: {e}")
    elif todo:
        import dask.bag

        # the pool runs one file per core at once
        if not _threads_given(options):
            cores = os.cpu_count() or 1
            settings["options"] = (*settings["options"], "--threads", str(max(1, cores // min(len(todo), cores))))
        bag = dask.bag.from_sequence([paths[k] for k in todo], npartitions=len(todo))
        done = bag.map(thin_file, out_folder=out_folder, **settings).compute(scheduler="threads")
        for k, result in zip(todo, done):
            results[k] = result
    return results
