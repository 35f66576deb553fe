#!/usr/bin/env python3
"""Compiles the usage example of every engine header.

    header_examples.py COMPILER ENGINE_DIR LAYER...

A header's example is the first block of lines indented by three blanks
("//   ") in the comment that opens the header. It must be real code: it
is compiled as the body of a function returning HRESULT (so it may
`return hr;`), after every header of its layer and the layers below, a few
standard headers and `using namespace telsor;`. The examples of one layer
share one translation unit (each in its own function; errors name the
header). The warnings are those of the build, -Wall -Wextra -Werror, less
the unused-variable pair: an example computes values only to show them.
Exit status 1 when an example does not compile or a header has none.
"""
import concurrent.futures
import glob
import os
import subprocess
import sys
import tempfile

STANDARD = ["errno.h", "stdio.h", "stdlib.h", "string.h", "cmath", "memory", "sstream", "string", "vector"]


def example(path):
    """The lines of the first three-blank block of the leading comment."""
    block = []
    for line in open(path, encoding="utf-8").read().split("\n"):
        if not line.startswith("//"):
            break
        body = line[2:]
        if body.startswith("   ") and body.strip():
            block.append(body[3:])
        elif block:
            break
    return block


def translation_unit(engine, layers, layer, examples):
    lines = []
    for below in layers[: layers.index(layer) + 1]:
        for header in sorted(glob.glob(os.path.join(engine, below, "*.h"))):
            lines.append('#include "%s/%s"' % (below, os.path.basename(header)))
    lines += ["#include <%s>" % s for s in STANDARD]
    lines.append("using namespace telsor;")
    for n, (header, block) in enumerate(examples):
        lines += ["HRESULT Example%d();" % n, "HRESULT Example%d() {" % n]
        lines.append('#line 1 "%s example"' % os.path.relpath(header, os.path.dirname(engine)))
        lines += ["  " + l for l in block]
        lines += ["  return S_OK;", "}"]
    return "\n".join(lines) + "\n"


def check(compiler, engine, layers, layer):
    """Problems of the layer's examples, as text; empty when none."""
    problems = []
    examples = []
    for header in sorted(glob.glob(os.path.join(engine, layer, "*.h"))):
        block = example(header)
        if block:
            examples.append((header, block))
        else:
            problems.append("%s: no usage example (a block indented by three blanks in the "
                            "opening comment)" % os.path.relpath(header, engine))
    with tempfile.NamedTemporaryFile("w", suffix=".cpp", delete=False) as f:
        f.write(translation_unit(engine, layers, layer, examples))
        source = f.name
    try:
        run = subprocess.run(
            [compiler, "-std=c++17", "-fsyntax-only", "-Wall", "-Wextra", "-Werror",
             "-Wno-unused-variable", "-Wno-unused-but-set-variable", "-I", engine, source],
            capture_output=True, text=True)
    finally:
        os.unlink(source)
    if run.returncode != 0:
        problems.append(run.stdout + run.stderr)
    return len(examples), "\n".join(problems)


def main():
    compiler, engine, layers = sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3:]
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(layers)) as pool:
        results = list(pool.map(lambda layer: check(compiler, engine, layers, layer), layers))
    failed = False
    for layer, (count, problems) in zip(layers, results):
        print("%s: %d examples%s" % (layer, count, ", failing:" if problems else " compile"))
        if problems:
            print(problems)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
