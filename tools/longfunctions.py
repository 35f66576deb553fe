#!/usr/bin/env python3
"""Lists the functions longer than a limit in C and C++ sources.

    python3 tools/longfunctions.py [--limit N] [PATH...]    (default: 150, engine)

One line per function, longest first: its lines (from the line of its name
to its closing brace), file:line, name. Exit status 1 when any is listed.

A brace counter, not a compiler: comments, string and character literals
and preprocessor lines are blanked first; a '{' outside any function opens
a function body when the text before it (since the last ';', '{' or '}')
ends in a parameter list, possibly followed by qualifiers, a trailing
return type or a constructor's initializer list. Lambdas and local classes
count as part of the function they are written in. Flex and bison sources
(.l, .y) are left out: their rules are not C++.
"""
import argparse
import bisect
import os
import re
import sys

SUFFIXES = ('.c', '.cc', '.cpp', '.h', '.hpp')


# Comments, raw strings, strings, characters and preprocessor lines (with
# their continuations).
BLANKED = re.compile(r'//[^\n]*|/\*.*?\*/|(?:u8|[uUL])?R"([^()\\ ]{0,16})\(.*?\)\1"'
                     r'|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'|^[ \t]*#(?:\\\n|[^\n])*', re.S | re.M)


def blank(text):
    """The text with comments, literals and preprocessor lines as spaces
    (newlines kept, so offsets keep their lines)."""
    return BLANKED.sub(lambda m: re.sub(r'[^\n]', ' ', m.group(0)), text)


QUALIFIER = re.compile(r'(?:\bconst|\bvolatile|\boverride|\bfinal|\bnoexcept|\btry|&)\Z')


def strip_tail(head):
    """head less a trailing return type and qualifiers."""
    arrow = head.rfind('->')
    if arrow >= 0 and '(' not in head[arrow:] and ')' not in head[arrow:]:
        head = head[:arrow]
    head = head.rstrip()
    while True:
        q = QUALIFIER.search(head)
        if not q:
            return head
        head = head[:q.start()].rstrip()


def matching_open(head, close):
    depth = 0
    for k in range(close, -1, -1):
        if head[k] == ')':
            depth += 1
        elif head[k] == '(':
            depth -= 1
            if depth == 0:
                return k
    return -1


def function_name(head):
    """The name of the function whose body head opens, or None."""
    outer = re.sub(r'\boperator\b\s*[^\w\s(]*', ' ', head)
    while True:  # the head with the insides of its parentheses dropped
        dropped = re.sub(r'\([^()]*\)', '', outer)
        if dropped == outer:
            break
        outer = dropped
    if re.search(r'(^|[^=!<>])=($|[^=])', outer):
        return None  # an initializer
    body = strip_tail(head.rstrip())
    # A constructor's initializer list: the first single ':' outside
    # parentheses that follows a ')'.
    depth = 0
    for k, ch in enumerate(body):
        if ch in '([':
            depth += 1
        elif ch in ')]':
            depth -= 1
        elif (ch == ':' and depth == 0 and body[k - 1:k + 2].count(':') == 1 and
              body[:k].rstrip().endswith(')')):
            body = strip_tail(body[:k])
            break
    if not body.endswith(')'):
        return None
    open_at = matching_open(body, len(body) - 1)
    if open_at <= 0:
        return None
    before = body[:open_at]
    name = (re.search(r'((?:[\w~]+::)*operator\s*(?:\(\)|[^\w\s(]+))\s*$', before) or
            re.search(r'(~?[A-Za-z_][\w:~]*(?:<[^()]*>)?)\s*$', before))
    if not name or re.fullmatch(r'(if|for|while|switch|catch|return|sizeof|decltype|alignas)', name.group(1)):
        return None
    return name.group(1), name.start(1)


def functions(path):
    with open(path, encoding='latin-1') as f:
        text = f.read()
    code = blank(text)
    line_starts = [m.end() for m in re.finditer(r'\n', code)]

    def line_of(at):
        return bisect.bisect_right(line_starts, at) + 1

    found = []
    stack = []  # per open brace: 'function', 'init', or 'other'
    head_from = 0
    in_function = 0
    paren = 0
    for m in re.finditer(r'[(){};]', code):
        i, c = m.start(), m.group(0)
        if c == '(':
            paren += 1
        elif c == ')':
            paren -= 1
        elif c == ';' and not in_function:
            head_from = i + 1
        elif c == '{':
            if in_function:
                stack.append('other')
                continue
            head = code[head_from:i]
            kind = 'other'
            named = function_name(head) if paren == 0 else None
            if named:
                kind = 'function'
                start = head_from + named[1]
                found.append([named[0].split('<')[0], line_of(start), None])
                in_function = len(stack) + 1
            elif re.search(r'\)\s*:[^:]', head) and re.search(r'[\w>]\s*$', head):
                kind = 'init'  # a member initialized with braces before the body
            stack.append(kind)
            if kind != 'init':
                head_from = i + 1
        elif c == '}':
            kind = stack.pop() if stack else 'other'
            if kind == 'function':
                found[-1][2] = line_of(i)
                in_function = 0
            if not in_function and kind != 'init':
                head_from = i + 1
    return [(end - line + 1, line, name) for name, line, end in found if end]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--limit', type=int, default=150)
    parser.add_argument('paths', nargs='*')
    args = parser.parse_args()
    root = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
    paths = args.paths or [os.path.join(root, 'engine')]
    files = []
    for p in paths:
        if os.path.isdir(p):
            for d, _, names in os.walk(p):
                files += [os.path.join(d, f) for f in names if f.endswith(SUFFIXES)]
        else:
            files.append(p)
    rows = []
    for f in sorted(files):
        rows += [(length, os.path.relpath(f, root), line, name) for length, line, name in functions(f)]
    rows = sorted((r for r in rows if r[0] > args.limit), key=lambda r: (-r[0], r[1], r[2]))
    for length, f, line, name in rows:
        print(f'{length:5d} {f}:{line} {name}')
    return 1 if rows else 0


if __name__ == '__main__':
    sys.exit(main())
