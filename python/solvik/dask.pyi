import os
from typing import Any, Dict, List, Literal, NamedTuple, Optional, Sequence, Tuple, Union

import numpy.typing as npt

Path = Union[str, "os.PathLike[str]"]
Number = Union[int, float]
Frame = Literal["keep", "pad"]

GRACE_SECONDS: float

class FileResult(NamedTuple):
    input: str
    output: Optional[str]
    error: Optional[str]

def thin(
    stack: Any,
    window: Union[Tuple[Number, Number], Literal["nonzero"], None] = ...,
    *,
    frame: Optional[Frame] = ...,
    values: Tuple[int, int] = ...,
    threads: Optional[int] = ...,
    as_dialogue: bool = ...,
) -> Any: ...  # dask.array.Array of uint8
def skeletonize(
    stack: Any, *, frame: Optional[Frame] = ..., threads: Optional[int] = ..., as_dialogue: bool = ...
) -> Any: ...  # dask.array.Array of bool
def find_program(program: Optional[Path] = ...) -> str: ...
def result_path(path: Path, out_folder: Path, fmt: Optional[str] = ..., *, program: Optional[Path] = ...) -> str: ...
def plan_outputs(
    paths: Sequence[Path],
    out_folder: Path,
    fmt: Optional[str] = ...,
    options: Sequence[str] = ...,
    *,
    program: Optional[Path] = ...,
) -> List[Tuple[str, List[str]]]: ...
def thin_file(
    path: Path,
    out_folder: Path,
    window: Optional[Union[Tuple[Number, Number], str]] = ...,
    *,
    frame: Optional[Frame] = ...,
    values: Optional[Tuple[int, int]] = ...,
    fmt: Optional[str] = ...,
    options: Sequence[str] = ...,
    program: Optional[Path] = ...,
    timeout: Optional[float] = ...,
    output: Optional[str] = ...,
    threads: Optional[int] = ...,
    as_dialogue: bool = ...,
) -> FileResult: ...
def thin_files(
    paths: Sequence[Path],
    out_folder: Path,
    window: Optional[Union[Tuple[Number, Number], str]] = ...,
    *,
    frame: Optional[Frame] = ...,
    values: Optional[Tuple[int, int]] = ...,
    fmt: Optional[str] = ...,
    options: Sequence[str] = ...,
    program: Optional[Path] = ...,
    client: Any = ...,
    timeout: Optional[float] = ...,
    threads: Optional[int] = ...,
    as_dialogue: bool = ...,
) -> List[FileResult]: ...

__all__: Sequence[str]
