"""Every class, method and member of the type stubs has a docstring: editors show it, and the API
reference of the documentation site is generated from it."""

import ast
import pathlib

STUBS = pathlib.Path(__file__).resolve().parents[2] / "stubs" / "tolvat-stubs" / "__init__.pyi"


def test_every_definition_of_the_stubs_has_a_docstring():
    tree = ast.parse(STUBS.read_text(encoding="utf-8"))
    seen, undocumented = [], []

    def visit(body, prefix):
        for index, node in enumerate(body):
            if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
                seen.append(prefix + node.name)
                if not ast.get_docstring(node):
                    undocumented.append(prefix + node.name)
                if isinstance(node, ast.ClassDef):
                    visit(node.body, prefix + node.name + ".")
            elif isinstance(node, ast.AnnAssign):
                # An attribute's docstring is the string right after it.
                seen.append(prefix + ast.unparse(node.target))
                following = body[index + 1] if index + 1 < len(body) else None
                if not (isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant)
                        and isinstance(following.value.value, str) and following.value.value.strip()):
                    undocumented.append(prefix + ast.unparse(node.target))

    visit(tree.body, "")
    assert {"Tolvat", "LogTolvat", "Tolvat.as_unit", "LogTolvat.__add__", "_UnitOperand"} <= set(seen)
    assert undocumented == []
