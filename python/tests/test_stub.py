"""The type stub names what the package holds, and every call says what it takes (so it cannot drift)."""

import ast
import inspect
import pathlib

import zelbo

STUB = pathlib.Path(zelbo.__file__).with_name("__init__.pyi")


def _stub_names():
    tree = ast.parse(STUB.read_text())
    top, classes = set(), {}
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            top.add(node.name)
        if isinstance(node, ast.ClassDef):
            classes[node.name] = {n.name for n in node.body if isinstance(n, ast.FunctionDef)} | {
                n.target.id for n in node.body if isinstance(n, ast.AnnAssign)}
        elif isinstance(node, ast.AnnAssign):
            top.add(node.target.id)
    return top, classes


def _public(obj):
    return {n for n in dir(obj) if not n.startswith("_")}


def test_the_stub_names_every_public_attribute_and_nothing_else():
    top, classes = _stub_names()
    public = {n for n in _public(zelbo) if not inspect.ismodule(getattr(zelbo, n))} | {"__version__"}
    assert public == top - {"_Path", "_Array"}
    # Every public call and property of Board, and nothing it does not have.
    assert _public(zelbo.Board) == {n for n in classes["Board"] if not n.startswith("_")}
    for name in ("Capture", "Recording"):
        own = {n for n in _public(getattr(zelbo, name)) if n not in _public(dict)}
        assert own <= classes[name], own - classes[name]


def test_every_call_has_a_docstring_for_help():
    for name in _public(zelbo.Board):
        attr = getattr(zelbo.Board, name)
        doc = (attr.fget.__doc__ if isinstance(attr, property) else attr.__doc__) or ""
        # pybind11 puts the signature first; the text must follow it.
        text = "\n".join(line for line in doc.splitlines() if not line.startswith(name + "("))
        assert text.strip(), f"Board.{name} has no docstring"
    for obj in (zelbo.open_recording, zelbo.Capture.to_array, zelbo.Capture.to_dataframe, zelbo.Recording):
        assert obj.__doc__ and obj.__doc__.strip()
