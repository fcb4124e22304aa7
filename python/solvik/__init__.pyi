from typing import Any, Literal, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

Frame = Literal["keep", "pad"]
Number = Union[int, float]
# a pandas DataFrame when pandas is installed, else a dict of NumPy arrays
Table = Any

def skeletonize(
    mask: npt.ArrayLike, *, frame: Optional[Frame] = ..., threads: Optional[int] = ..., as_dialogue: bool = ...
) -> npt.NDArray[np.bool_]: ...
def thin(
    image: npt.ArrayLike,
    window: Union[Tuple[Number, Number], Literal["nonzero"], None] = ...,
    *,
    frame: Optional[Frame] = ...,
    values: Tuple[int, int] = ...,
    threads: Optional[int] = ...,
    as_dialogue: bool = ...,
) -> npt.NDArray[np.uint8]: ...
def prune(
    skeleton: npt.ArrayLike,
    length: float,
    *,
    values: Optional[Tuple[Number, Number]] = ...,
    threads: Optional[int] = ...,
) -> npt.NDArray[Any]: ...

class Graph:
    branches: Table
    nodes: Table
    summary: Table
    components: int
    def __init__(self, columns: Mapping[str, Any]) -> None: ...
    def path(self, branch: int) -> npt.NDArray[np.int32]: ...
    def node_pixels(self, node: int) -> npt.NDArray[np.int32]: ...
    def __getitem__(self, name: Literal["branches", "nodes", "summary", "components"]) -> Any: ...

def graph(
    skeleton: npt.ArrayLike,
    *,
    values: Optional[Tuple[Number, Number]] = ...,
    thin: bool = ...,
    frame: Optional[Frame] = ...,
    threads: Optional[int] = ...,
    as_dialogue: bool = ...,
) -> Graph: ...

__all__: Sequence[str]
