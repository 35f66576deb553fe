#!/usr/bin/env python3
"""Compiles the usage example of every engine header.

    header_examples.py [--c] COMPILER ENGINE_DIR LAYER...

A header's example is the first block of lines indented by three blanks
("//   ") in the comment that opens the header. It must be real code: it
is compiled as the body of a function returning HRESULT (so it may
`return hr;`), after every header of its layer and the layers below, a few
standard headers and `using namespace telsor;`. The examples of one layer
share one translation unit (each in its own function; errors name the
header). The warnings are those of the build, -Wall -Wextra -Werror, less
the unused-variable pair: an example computes values only to show them.
Exit status 1 when an example does not compile or a header has none.

With --c the layers are C headers (engine/include, what a host written in
C includes): each example is compiled as C11 in a function returning int,
after the layer's headers and the C headers a host uses (dlfcn.h for
loading the library). -pedantic is left out there: a host converts dlsym's
pointer to a function pointer, which POSIX allows and ISO C does not.
"""
import concurrent.futures
import glob
import os
import subprocess
import sys
import tempfile

C_STANDARD = ["dlfcn.h", "stdint.h", "stdio.h", "stdlib.h", "string.h"]
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


def translation_unit(engine, layers, layer, examples, c):
    lines = []
    for below in layers[: layers.index(layer) + 1]:
        for header in sorted(glob.glob(os.path.join(engine, below, "*.h"))):
            lines.append('#include "%s/%s"' % (below, os.path.basename(header)))
    lines += ["#include <%s>" % s for s in (C_STANDARD if c else STANDARD)]
    if not c:
        lines.append("using namespace telsor;")
    result, success, params = ("int", "0", "void") if c else ("HRESULT", "S_OK", "")
    for n, (header, block) in enumerate(examples):
        lines += ["%s Example%d(%s);" % (result, n, params),
                  "%s Example%d(%s) {" % (result, n, params)]
        lines.append('#line 1 "%s example"' % os.path.relpath(header, os.path.dirname(engine)))
        lines += ["  " + l for l in block]
        lines += ["  return %s;" % success, "}"]
    return "\n".join(lines) + "\n"


def check(compiler, engine, layers, layer, c=False):
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
    with tempfile.NamedTemporaryFile("w", suffix=".c" if c else ".cpp", delete=False) as f:
        f.write(translation_unit(engine, layers, layer, examples, c))
        source = f.name
    try:
        run = subprocess.run(
            [compiler, "-std=c11" if c else "-std=c++17", "-fsyntax-only", "-Wall", "-Wextra",
             "-Werror", "-Wno-unused-variable", "-Wno-unused-but-set-variable", "-I", engine,
             source],
            capture_output=True, text=True)
    finally:
        os.unlink(source)
    if run.returncode != 0:
        problems.append(run.stdout + run.stderr)
    return len(examples), "\n".join(problems)


def main():
    args = sys.argv[1:]
    c = args[:1] == ["--c"]
    if c:
        args = args[1:]
    compiler, engine, layers = args[0], os.path.abspath(args[1]), args[2:]
    with concurrent.futures.ThreadPoolExecutor(max_workers=len(layers)) as pool:
        results = list(pool.map(lambda layer: check(compiler, engine, layers, layer, c), layers))
    failed = False
    for layer, (count, problems) in zip(layers, results):
        print("%s: %d examples%s" % (layer, count, ", failing:" if problems else " compile"))
        if problems:
            print(problems)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
