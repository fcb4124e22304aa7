"""Thinning stacks of images and many image files at once, on this
machine's cores or on any Dask cluster.

Stacks
------
thin(stack, window=None, *, frame=None, values=(1, 255), threads=None, as_dialogue=False)
    A Dask array of N images (N, lines, columns) -> uint8 Dask array
skeletonize(stack, *, frame=None, threads=None, as_dialogue=False)
    The same for masks -> bool Dask array

Each image is thinned in the worker's own process by the compiled module,
exactly as `solvik.thin` / `solvik.skeletonize` thin it alone; chunks that
cut images are first joined into whole images.

Files
-----
thin_files(paths, out_folder, window=(128, 255), *, frame="keep",
           values=(1, 255), fmt=None, options=(), program=None,
           client=None, timeout=None, threads=None)  -> [FileResult, ...]
thin_file(path, out_folder, ...)             -> FileResult   (one file)
plan_outputs(paths, out_folder, fmt=None, options=(), *, program=None)
                                             -> [(output, options), ...]
result_path(path, out_folder, fmt=None, *, program=None)  -> the result's path
find_program(program=None)                   -> path of the solvik program

Each file is one run of the `solvik` program (`solvik [OPTIONS] INPUT
OUTPUT`), so every format, band and georeferencing rule of the command line
holds, and a result is byte for byte what the command line writes. The result
of `dir/name.ext` is `out_folder/name_reg.ext` (or `.fmt`), as in the program's
many-images form.

Every output of every file is planned before any run, by the program
itself (`solvik --plan ... -o out_folder -- paths`, one call for the whole
list): a result (or its descriptor, or a graph file) that would replace an
input or a file an input reads, or that two files would both write, stops
thin_files with the program's ValueError naming both. Graph files asked for
in `options` are named per file, as the many-images form names them:
--vector X.gpkg gives `<stem>_reg.branches.gpkg`, --nodes X.gpkg
`<stem>_reg.nodes.gpkg`, --summary X.csv `<stem>_reg.summary.csv`.

Nothing is lost: every input gets a FileResult(input, output, error) in the
order given, `output` the written path when the run succeeded, else `error`
the program's message (or why the run could not happen: a worker lost, a
timeout). A failed file never stops the others. A run that outlives its
timeout is asked to stop (SIGTERM: the program removes its temporary files)
and killed only if it is still there after a grace period.

On a cluster the workers run the program and read and write the files, so
the paths and `out_folder` must mean the same on every worker (a shared file
system), and `program` is looked up on each worker.

Runs side by side on one machine share its cores: each run's thinning gets
`--threads` cores / runs at once (at least 1), unless `options` hold
`--threads` or SOLVIK_THREADS is set where the program runs.
"""

import collections
import os
import re
import shutil
import subprocess

import numpy as _np

import solvik as _solvik

__all__ = ["FileResult", "find_program", "plan_outputs", "result_path", "skeletonize", "thin", "thin_file", "thin_files"]

# Seconds a run has to end after SIGTERM before it is killed.
GRACE_SECONDS = 10.0

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


def result_path(path, out_folder, fmt=None, *, program=None):
    """out_folder/<stem of path>_reg<.fmt or path's own extension>, as the
    program names it (it is asked: see find_program). ValueError when the
    program refuses the plan (the result would replace the input, ...)."""
    return plan_outputs([path], out_folder, fmt, program=program)[0][0]


def _stack(array):
    """The Dask array of (N, lines, columns) images, whole images per chunk."""
    import dask.array as da

    a = array if isinstance(array, da.Array) else da.asarray(array)
    if a.ndim != 3:
        raise ValueError(f"the stack must be a 3-D array (images, lines, columns); this one has {a.ndim} "
                         f"dimension{'' if a.ndim == 1 else 's'}")
    return a.rechunk({1: -1, 2: -1})


def _each_image(block, call, dtype, settings):
    out = _np.empty(block.shape, dtype)
    for k in range(block.shape[0]):
        out[k] = call(block[k], **settings)
    return out


def _thin_block(block, settings):
    return _each_image(block, _solvik.thin, _np.uint8, settings)


def _skeletonize_block(block, settings):
    return _each_image(block, _solvik.skeletonize, bool, settings)


def thin(stack, window=None, *, frame=None, values=(1, 255), threads=None, as_dialogue=False):
    """`solvik.thin` on every image of a stack.

    Parameters
    ----------
    stack : dask.array.Array or array_like, 3-D
        N images of one size (N, lines, columns), of any dtype `solvik.thin`
        takes. Chunks may split the stack along its first axis only; other
        chunks are joined into whole images first.
    window, frame, values, threads, as_dialogue
        As for `solvik.thin`, the same for every image (``threads``: per
        image).

    Returns
    -------
    dask.array.Array of uint8
        The stack's shape, image k ``solvik.thin(stack[k], ...)``; nothing
        runs until it is computed. The settings are checked at once.
    """
    a = _stack(stack)
    settings = dict(window=window, frame=frame, values=values, threads=threads, as_dialogue=as_dialogue)
    _solvik.thin(_np.zeros((1, 1), a.dtype), **settings)  # a bad setting or dtype fails here, not on a worker
    return a.map_blocks(_thin_block, settings=settings, dtype=_np.uint8, meta=_np.empty((0, 0, 0), _np.uint8))


def skeletonize(stack, *, frame=None, threads=None, as_dialogue=False):
    """`solvik.skeletonize` on every image of a stack.

    Parameters
    ----------
    stack : dask.array.Array or array_like, 3-D
        N masks of one size (N, lines, columns); non-zero is object.
    frame, threads, as_dialogue
        As for `solvik.skeletonize`.

    Returns
    -------
    dask.array.Array of bool
        The stack's shape, image k ``solvik.skeletonize(stack[k], ...)``.
    """
    a = _stack(stack)
    settings = dict(frame=frame, threads=threads, as_dialogue=as_dialogue)
    _solvik.skeletonize(_np.zeros((1, 1), a.dtype), **settings)
    return a.map_blocks(_skeletonize_block, settings=settings, dtype=bool, meta=_np.empty((0, 0, 0), bool))


def _number(v):
    return repr(float(v)) if isinstance(v, float) and not float(v).is_integer() else str(int(v))


def _window_word(window):
    if isinstance(window, str):  # "MIN:MAX", "dark", "bright": the program checks them
        return window
    lo, hi = window
    if lo > hi:
        raise ValueError(f"the window's MIN is above its MAX: {window!r}")
    return f"{_number(lo)}:{_number(hi)}"


def _arguments(window, frame, values, options, as_dialogue=False):
    """The program's options: those given, the others left to the program's
    own defaults (the window by the data, the skeleton that loses nothing,
    the values by the result's kind)."""
    if frame not in (None, "keep", "pad"):
        raise ValueError(f"unknown frame mode {frame!r}: use 'keep' or 'pad'")
    words = ["-q"]
    if window is not None:
        words += ["-w", _window_word(window)]
    if as_dialogue:
        words.append("--as-dialogue")
    if frame is not None:
        words += ["--frame", frame]
    if values is not None:
        skeleton, background = values
        words += ["--values", f"{int(skeleton)}:{int(background)}"]
    return [*words, *[str(o) for o in options]]


def _with_threads(options, threads):
    options = tuple(str(o) for o in options)
    if threads is None:
        return options
    if isinstance(threads, bool) or not isinstance(threads, int) or threads < 1:
        raise ValueError(f"threads must be a whole number, 1 or more, not {threads!r}")
    return (*options, "--threads", str(threads))


def thin_file(path, out_folder, window=None, *, frame=None, values=None, fmt=None, options=(),
              program=None, timeout=None, output=None, threads=None, as_dialogue=False):
    """Thins one file with the program.

    Parameters
    ----------
    path, out_folder, window, frame, values, fmt, options, program, timeout, threads, as_dialogue
        As for `thin_files` (graph files of `options` are written where
        they say).
    output : str, optional
        The result's path instead of ``out_folder/<stem>_reg.<ext>`` (the
        name the program's plan gives it: one more short run of the
        program).

    Returns
    -------
    FileResult
        Never raises: what went wrong is in ``error``.
    """
    path = os.fspath(path)
    try:
        options = _with_threads(options, threads)
        words = _arguments(window, frame, values, (), as_dialogue)
        if not output:  # the name the program's plan gives it
            output = _planned(_plan([path], out_folder, fmt, options, program, words, timeout), [path], options)[0][0]
        command = [find_program(program), *words, *options, path, output]
        os.makedirs(os.fspath(out_folder), exist_ok=True)
        returncode, stdout, stderr = _run(command, timeout)
    except subprocess.TimeoutExpired:
        return FileResult(path, None, f"{path}: stopped after {timeout} s")
    except ValueError as e:  # the program refused the plan: its message names the file
        return FileResult(path, None, str(e) if str(e).startswith(path) else f"{path}: {e}")
    except Exception as e:  # a missing program, a folder that cannot be made, ...
        return FileResult(path, None, f"{path}: {e}")
    if returncode == 0 and os.path.isfile(output):
        return FileResult(path, output, None)
    message = stderr.strip() or stdout.strip() or "no message"
    return FileResult(path, None, f"{message} (exit status {returncode})")


def _run(command, timeout):
    """Runs the program: (status, stdout, stderr). A run that outlives
    `timeout`, or whose caller is interrupted, gets SIGTERM, so that it
    removes its temporary files, and SIGKILL only after GRACE_SECONDS more;
    TimeoutExpired once it has ended."""
    with subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, errors="replace") as run:
        try:
            stdout, stderr = run.communicate(timeout=timeout)
        except BaseException:  # the timeout, or the caller stopped (KeyboardInterrupt)
            run.terminate()
            try:
                run.communicate(timeout=GRACE_SECONDS)
            except subprocess.TimeoutExpired:
                run.kill()
                run.communicate()
            raise
        return run.returncode, stdout, stderr


# The graph files an option asks for, and the role the program's plan gives
# each file's own.
_GRAPH_FILES = {"--vector": "branches", "--nodes": "nodes", "--summary": "summary"}
_ESCAPES = {"\\\\": "\\", "\\t": "\t", "\\n": "\n", "\\r": "\r"}


def _plan(paths, out_folder, fmt=None, options=(), program=None, settings=(), timeout=None):
    """The program's plan of the batch: [(input, role, file), ...] as
    `solvik --plan [settings] [options] -o out_folder [-f fmt] -- paths`
    prints it. ValueError with the program's reason when it refuses the
    plan (status 2); RuntimeError for any other failure."""
    command = [find_program(program), "--plan", *settings, *[str(o) for o in options], "-o", os.fspath(out_folder)]
    if fmt:
        command += ["-f", str(fmt)]
    command += ["--", *paths]
    run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    if run.returncode != 0:
        lines = os.fsdecode(run.stderr).strip().split("\n")
        reason = lines[0].removeprefix("solvik: ") if lines[0] else "no message"
        raise (ValueError if run.returncode == 2 else RuntimeError)(reason)
    return [tuple(_unescaped(os.fsdecode(f)) for f in line.split(b"\t")) for line in run.stdout.split(b"\n") if line]


def _unescaped(field):
    """A field of the plan with the program's escapes (\\\\, \\t, \\n, \\r) undone."""
    return re.sub(r"\\[\\tnr]", lambda m: _ESCAPES[m.group()], field)


def _planned(plan, paths, options):
    """[(output, options of its run), ...] of `paths` from the program's plan:
    each graph file of `options` replaced by the one the plan names for that
    file."""
    files = {}
    for path, role, f in plan:
        files.setdefault(path, {}).setdefault(role, f)
    return [(files[path]["result"], _per_file_options(options, files[path])) for path in paths]


def _per_file_options(options, planned):
    """`options` with the value of each --vector, --nodes and --summary
    replaced by the file `planned` ({role: file}) names."""
    options = [str(o) for o in options]
    out, k = [], 0
    while k < len(options):
        word = options[k]
        name, joined, _ = word.partition("=")
        if name in _GRAPH_FILES and (joined or k + 1 < len(options)):
            out += [name, planned[_GRAPH_FILES[name]]]
            k += 1 if joined else 2
            continue
        if word == "--":
            out += options[k:]
            break
        out.append(word)
        k += 1
    return out


def plan_outputs(paths, out_folder, fmt=None, options=(), *, program=None):
    """The (output, options) of every file of `paths`, each output named as
    the many-images form names it and each graph file of `options` named
    after its output, as the program plans them (one run of `solvik --plan`
    for the whole list). Raises ValueError, naming both, when a file written
    would replace a file read, or when two files would write one file (or
    for any other usage error of the program: a bad option, ...)."""
    paths = [os.fspath(p) for p in paths]
    if not paths:
        return []
    return _planned(_plan(paths, out_folder, fmt, options, program), paths, options)


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


def _thin_with_share(path, output, options, out_folder, shares=None, **settings):
    """thin_file on a worker, with its machine's share of the cores."""
    if shares and not _threads_given(options):
        from distributed import get_worker

        share = shares.get(_host(get_worker().address))
        if share:
            options = (*options, "--threads", str(share))
    return thin_file(path, out_folder, options=options, output=output, **settings)


def _thin_planned(planned, out_folder, **settings):
    path, output, options = planned
    return thin_file(path, out_folder, options=options, output=output, **settings)


def _current_client():
    try:
        from distributed import get_client

        return get_client()
    except (ImportError, ValueError):
        return None


def thin_files(paths, out_folder, window=None, *, frame=None, values=None, fmt=None, options=(),
               program=None, client=None, timeout=None, threads=None, as_dialogue=False):
    """Thins every file of `paths` into `out_folder`, in parallel.

    Parameters
    ----------
    paths : list of str or path-like
        Image files (every format the program reads).
    out_folder : str or path-like
        Where the results go (made when missing): ``<stem>_reg.<ext>``.
    window : (MIN, MAX) or str, optional
        Or a word the program takes ("dark", "bright", "nonzero",
        "MIN:MAX"). None: as the program chooses by the data (8-bit
        128:255, 1-bit non-zero, other data asks for a window).
    frame, values, fmt : optional
        As the program's --frame, --values, --format; None leaves the
        program's defaults (the skeleton that loses nothing, thinned as if
        surrounded by background; values by the result's kind).
    as_dialogue : bool
        The dialogue's skeleton, frame and values (--as-dialogue).
    options : sequence of str
        More program options, e.g. ``["--band", "2"]``; graph files
        (--vector, --nodes, --summary) are named per file.
    program : str, optional
        The program's path (see find_program), looked up by the worker.
    client : distributed.Client, optional
        Default the current client, or else a local thread pool (each file
        is a process of its own).
    timeout : float, optional
        Seconds one file may take (None: no limit).
    threads : int, optional
        Threads of each run (None: the runs side by side on a machine share
        its cores).

    Returns
    -------
    list of FileResult
        One per path, in the order of `paths`.

    Raises
    ------
    ValueError
        A bad setting, or an output that would replace an input or that two
        files would both write (naming both); nothing has run then.
    """
    options = _with_threads(options, threads)
    paths = [os.fspath(p) for p in paths]
    settings = dict(window=window, frame=frame, values=None if values is None else tuple(values), fmt=fmt,
                    program=program, timeout=timeout, as_dialogue=as_dialogue)
    words = _arguments(window, frame, values, (), as_dialogue)  # a bad setting fails here, once, not once a file
    if any(str(o) == "-o" or str(o).startswith("-o") and not str(o).startswith("--") for o in options):
        raise ValueError("options must not hold -o: thin_files names every result in out_folder itself")
    if not paths:
        os.makedirs(os.fspath(out_folder), exist_ok=True)
        return []
    # every output of every file, before any run: the program's plan, made
    # where the runs will be (a worker, when there is a cluster)
    client = client or _current_client()
    plan_args = (paths, out_folder, fmt, options, program, words, timeout)
    plan = client.submit(_plan, *plan_args, pure=False).result() if client is not None else _plan(*plan_args)
    plans = _planned(plan, paths, options)
    os.makedirs(os.fspath(out_folder), exist_ok=True)
    outputs = [output for output, _ in plans]
    per_file = [tuple(o) for _, o in plans]

    if client is not None:
        futures = client.map(_thin_with_share, paths, outputs, per_file, out_folder=out_folder,
                             shares=_cluster_shares(client), pure=False, **settings)
        results = []
        for path, future in zip(paths, futures):
            try:
                results.append(future.result())
            except Exception as e:  # a lost worker, a cancelled task: reported, not lost
                results.append(FileResult(path, None, f"{path}: {type(e).__name__}: {e}"))
        return results
    import dask.bag

    # the pool runs one file per core at once
    if not _threads_given(options):
        cores = os.cpu_count() or 1
        share = ("--threads", str(max(1, cores // min(len(paths), cores))))
        per_file = [(*o, *share) for o in per_file]
    bag = dask.bag.from_sequence(list(zip(paths, outputs, per_file)), npartitions=len(paths))
    return bag.map(_thin_planned, out_folder=out_folder, **settings).compute(scheduler="threads")
