"""The build backend of `pip install .` (PEP 517), with the standard library
only: it runs the project's CMake build of the program and the Python
module, then packs the wheel itself. Nothing is fetched: the build needs
CMake, a C++20 compiler, pybind11 and NumPy from the system (Debian:
`cmake g++ pybind11-dev python3-dev python3-numpy`).

The wheel holds the package `solvik` (its Python files, type stubs and the
compiled module) and, in solvik/_bin/, the program `solvik` with the command
line module it opens, which the file functions of solvik.dask run.

Settings (pip install . --config-settings KEY=VALUE):
    build-dir   the CMake build folder (default build/wheel in the source tree)
    jobs        parallel build jobs (default CMAKE_BUILD_PARALLEL_LEVEL, else
                the cores)
    cmake-args  more arguments to the configure step, split on white space
"""

import base64
import hashlib
import io
import os
import re
import shutil
import stat
import subprocess
import sys
import sysconfig
import tarfile
import zipfile

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGE_FILES = ["__init__.py", "dask.py", "__init__.pyi", "dask.pyi", "py.typed"]


def _project():
    """Name, version, summary and the rest of pyproject.toml's [project]."""
    text = open(os.path.join(SOURCE, "pyproject.toml"), encoding="utf-8").read()
    try:
        import tomllib

        return tomllib.loads(text)["project"]
    except ImportError:  # Python before 3.11: the few plain keys the metadata needs
        section = text.split("[project]", 1)[1].split("\n[", 1)[0]
        found = dict(re.findall(r'^([\w-]+)\s*=\s*"([^"]*)"', section, re.M))
        found["dependencies"] = re.findall(r'"([^"]+)"', re.search(r"dependencies\s*=\s*\[([^\]]*)\]", section).group(1))
        return found


def _checked(project):
    """The project, once its version is the one CMake builds: the module
    reports CMake's, the wheel is named by pyproject.toml's."""
    cmake = open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8").read()
    match = re.search(r"project\(\s*solvik\s+VERSION\s+([\d.]+)", cmake)
    if match and match.group(1) != project["version"]:
        raise RuntimeError(f"pyproject.toml says version {project['version']}, CMakeLists.txt {match.group(1)}: "
                           "make them the same")
    return project


def _dist_name(project):
    return re.sub(r"[-_.]+", "_", project["name"]).lower()


def _metadata(project):
    lines = ["Metadata-Version: 2.1", f"Name: {project['name']}", f"Version: {project['version']}",
             f"Summary: {project.get('description', '')}"]
    if project.get("requires-python"):
        lines.append(f"Requires-Python: {project['requires-python']}")
    license_ = project.get("license")
    if isinstance(license_, dict) and license_.get("text"):
        lines.append(f"License: {license_['text']}")
    for requirement in project.get("dependencies", []):
        lines.append(f"Requires-Dist: {requirement}")
    for extra, requirements in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        for requirement in requirements:
            lines.append(f'Requires-Dist: {requirement}; extra == "{extra}"')
    readme = os.path.join(SOURCE, "README.md")
    body = open(readme, encoding="utf-8").read() if os.path.isfile(readme) else ""
    if body:
        lines.append("Description-Content-Type: text/markdown")
    return "\n".join(lines) + "\n\n" + body


def _tag():
    """cpXY-cpXY-<platform> of the interpreter that runs the build."""
    python = f"cp{sys.version_info[0]}{sys.version_info[1]}"
    soabi = sysconfig.get_config_var("SOABI") or ""
    match = re.match(r"cpython-(\d+)", soabi)
    abi = f"cp{match.group(1)}" if match else python
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return f"{python}-{abi}-{platform}"


def _setting(config_settings, key, default=None):
    value = (config_settings or {}).get(key)
    return value if value not in (None, "") else default


def _cmake_environment():
    """The environment without the overlay of an isolated pip build, so that
    the interpreter CMake asks finds its own NumPy."""
    env = dict(os.environ)
    for key in ("PYTHONPATH", "PYTHONNOUSERSITE", "PYTHONHOME", "PYTHONSAFEPATH"):
        env.pop(key, None)
    return env


def _build(config_settings):
    """Runs CMake; returns the paths of the files the wheel takes from the
    build: {"module": ..., "program": ..., "cli_module": ..., "gdal_module": ...}."""
    build_dir = os.path.abspath(_setting(config_settings, "build-dir", os.path.join(SOURCE, "build", "wheel")))
    jobs = _setting(config_settings, "jobs", os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1))
    extra = _setting(config_settings, "cmake-args", "").split()
    cmake = shutil.which("cmake")
    if not cmake:
        raise RuntimeError("building solvik needs CMake 3.25 or newer (Debian: apt-get install cmake g++)")
    env = _cmake_environment()
    configure = [cmake, "-S", SOURCE, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DSOLVIK_TESTS=OFF",
                 "-DSOLVIK_BENCH=OFF", "-DSOLVIK_EXAMPLES=OFF", f"-DPython3_EXECUTABLE={sys.executable}", *extra]
    for command in (configure, [cmake, "--build", build_dir, "-j", str(jobs), "--target", "solvik", "solvik_python"]):
        print("solvik build:", " ".join(command), file=sys.stderr, flush=True)
        subprocess.run(command, check=True, env=env, stdout=sys.stderr)
    manifest = os.path.join(build_dir, "python", "wheel_files.txt")
    if not os.path.isfile(manifest):
        raise RuntimeError("the Python module was not configured: it needs Python's headers, NumPy and pybind11 "
                           "(Debian: apt-get install python3-dev python3-numpy pybind11-dev); see the CMake output")
    files = dict(line.split("=", 1) for line in open(manifest, encoding="utf-8").read().splitlines() if "=" in line)
    for key, path in files.items():
        if not os.path.isfile(path):
            raise RuntimeError(f"the build did not make {key}: {path}")
    return files


def _stripped(path):
    """The file's bytes, without debugging symbols when strip is there."""
    strip = shutil.which("strip")
    if strip:
        copy = path + ".stripped"
        shutil.copyfile(path, copy)
        if subprocess.run([strip, "--strip-unneeded", copy], capture_output=True).returncode == 0:
            data = open(copy, "rb").read()
            os.remove(copy)
            return data
        os.remove(copy)
    return open(path, "rb").read()


class _Wheel:
    def __init__(self, path):
        self.zip = zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED)
        self.records = []

    def add(self, name, data, executable=False):
        if isinstance(data, str):
            data = data.encode("utf-8")
        info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
        info.external_attr = ((0o755 if executable else 0o644) | stat.S_IFREG) << 16
        info.compress_type = zipfile.ZIP_DEFLATED
        self.zip.writestr(info, data)
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        self.records.append(f"{name},sha256={digest},{len(data)}")

    def close(self, record_name):
        self.records.append(f"{record_name},,")
        info = zipfile.ZipInfo(record_name, date_time=(2020, 1, 1, 0, 0, 0))
        info.external_attr = (0o644 | stat.S_IFREG) << 16
        self.zip.writestr(info, "\n".join(self.records) + "\n")
        self.zip.close()


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_sdist(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    project = _project()
    info = f"{_dist_name(project)}-{project['version']}.dist-info"
    os.makedirs(os.path.join(metadata_directory, info), exist_ok=True)
    with open(os.path.join(metadata_directory, info, "METADATA"), "w", encoding="utf-8") as f:
        f.write(_metadata(project))
    return info


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _checked(_project())
    files = _build(config_settings)
    name, version, tag = _dist_name(project), project["version"], _tag()
    wheel_name = f"{name}-{version}-{tag}.whl"
    info = f"{name}-{version}.dist-info"
    os.makedirs(wheel_directory, exist_ok=True)
    wheel = _Wheel(os.path.join(wheel_directory, wheel_name))
    package = os.path.join(SOURCE, "python", "solvik")
    for file in PACKAGE_FILES:
        wheel.add(f"solvik/{file}", open(os.path.join(package, file), "rb").read())
    wheel.add(f"solvik/{os.path.basename(files['module'])}", _stripped(files["module"]))
    wheel.add("solvik/_bin/solvik", _stripped(files["program"]), executable=True)
    for part in ("cli_module", "gdal_module"):  # the command line, and GDAL's part of it when built
        if part in files:
            wheel.add(f"solvik/_bin/{os.path.basename(files[part])}", _stripped(files[part]))
    wheel.add("solvik/_program.py", "# Written by the wheel's build: the program inside the package.\n"
                                    "PROGRAM = \"_bin/solvik\"\nRELATIVE = True\n")
    wheel.add(f"{info}/METADATA", _metadata(project))
    wheel.add(f"{info}/WHEEL", f"Wheel-Version: 1.0\nGenerator: solvik_build\nRoot-Is-Purelib: false\nTag: {tag}\n")
    wheel.add(f"{info}/top_level.txt", "solvik\n")
    wheel.close(f"{info}/RECORD")
    return wheel_name


def _source_files():
    """The files of the source tree: git's list when it is a checkout, else
    every file but build folders and caches."""
    try:
        listed = subprocess.run(["git", "-C", SOURCE, "ls-files", "-z"], capture_output=True, check=True).stdout
        return sorted(p for p in listed.decode().split("\0") if p and os.path.isfile(os.path.join(SOURCE, p)))
    except (OSError, subprocess.CalledProcessError):
        found = []
        for folder, dirs, names in os.walk(SOURCE):
            rel = os.path.relpath(folder, SOURCE)
            dirs[:] = [d for d in dirs if not (rel == "." and (d.startswith("build") or d in (".git", "out")))
                       and d != "__pycache__"]
            found += [os.path.normpath(os.path.join(rel, n)) for n in names]
        return sorted(found)


def build_sdist(sdist_directory, config_settings=None):
    project = _project()
    base = f"{_dist_name(project)}-{project['version']}"
    os.makedirs(sdist_directory, exist_ok=True)
    with tarfile.open(os.path.join(sdist_directory, base + ".tar.gz"), "w:gz", format=tarfile.PAX_FORMAT) as tar:
        for rel in _source_files():
            tar.add(os.path.join(SOURCE, rel), f"{base}/{rel}", recursive=False)
        data = _metadata(project).encode("utf-8")
        info = tarfile.TarInfo(f"{base}/PKG-INFO")
        info.size, info.mode = len(data), 0o644
        tar.addfile(info, io.BytesIO(data))
    return base + ".tar.gz"
