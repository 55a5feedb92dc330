#!/usr/bin/env python3
"""Checks that the README's examples are the code that readme_examples_test.cpp compiles.

    check_readme_examples.py README.md readme_examples_test.cpp

In the README, an example is a ```cpp block right after a line `<!-- example: NAME -->`. In the
test, the example NAME is every region between `// README NAME` and `// README end`, joined in
order. Each README example must equal its regions line by line (indentation of the regions is
taken off), and each name must appear in both files.
"""
import re
import sys
import textwrap


def readme_examples(path):
    text = open(path, encoding="utf-8").read()
    found = {}
    for m in re.finditer(r"<!-- example: (\w+) -->\s*\n```cpp\n(.*?)```", text, re.S):
        found[m.group(1)] = m.group(2)
    return found


def test_regions(path):
    found, name, lines = {}, None, []
    for line in open(path, encoding="utf-8"):
        stripped = line.strip()
        if name is None:
            m = re.fullmatch(r"// README (\w+)", stripped)
            if m and m.group(1) != "end":
                name, lines = m.group(1), []
        elif stripped == "// README end":
            found[name] = found.get(name, "") + textwrap.dedent("".join(lines))
            name = None
        else:
            lines.append(line)
    if name is not None:
        sys.exit(f"{path}: region '{name}' has no '// README end'")
    return found


def main():
    readme, test = readme_examples(sys.argv[1]), test_regions(sys.argv[2])
    problems = []
    for name in sorted(set(readme) | set(test)):
        if name not in readme:
            problems.append(f"example '{name}' is compiled by the test but missing from the README")
        elif name not in test:
            problems.append(f"example '{name}' of the README is not compiled by the test")
        elif readme[name] != test[name]:
            problems.append(f"example '{name}' differs:\n--- README\n{readme[name]}--- test\n{test[name]}")
    for p in problems:
        print(p)
    print(f"{len(readme)} README examples, {len(test)} compiled, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
