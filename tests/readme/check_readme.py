#!/usr/bin/env python3
"""Holds the README to the tree: a renamed script, flag, document or heading fails here.

- Every command the README gives (a code span or code line starting with scripts/... or
  bench/...) is run with --help from the source root: it must exit 0 within a few seconds, and
  every --flag the README gives with it must appear in what it prints.
- scripts/demo and scripts/test, the README's two commands, must be among them.
- Every relative link of the README and of docs/*.md names a file that exists, and a #heading in
  a link to a Markdown file names a heading there.
- The README stays a front door: at most 150 lines.

Usage: check_readme.py SOURCE_ROOT
"""
import os
import re
import subprocess
import sys

MAX_README_LINES = 150
HELP_TIMEOUT_S = 30
COMMAND = re.compile(r'(?:^|\s)((?:scripts|bench)/[\w.-]+)((?:\s+\S+)*)')
FLAG = re.compile(r'--[a-z][\w-]*')
LINK = re.compile(r'!?\[[^\]]*\]\(([^)\s]+)\)')


def code_texts(markdown):
    """The code spans and the lines of the fenced code blocks, comments cut off."""
    texts, in_block = [], False
    for line in markdown.splitlines():
        if line.startswith('```'):
            in_block = not in_block
        elif in_block:
            texts.append(line.split('#', 1)[0])
        else:
            texts += re.findall(r'`([^`]+)`', line)
    return texts


def readme_commands(markdown):
    """{script path: set of --flags the README gives with it}"""
    commands = {}
    for text in code_texts(markdown):
        match = COMMAND.search(text)
        if match:
            commands.setdefault(match.group(1), set()).update(FLAG.findall(match.group(2)))
    return commands


def run_help(root, script):
    """The exit status and output of SCRIPT --help; a command that keeps running is killed."""
    process = subprocess.Popen([os.path.join(root, script), '--help'], cwd=root,
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, text=True, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=HELP_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, 9)
        process.communicate()
        return None, ''
    return process.returncode, output


def heading_anchors(markdown):
    """GitHub's anchors of a Markdown file's headings."""
    anchors = set()
    for line in markdown.splitlines():
        match = re.match(r'#{1,6}\s+(.*)', line)
        if match:
            text = re.sub(r'[^\w\- ]', '', match.group(1).strip().lower())
            anchors.add(text.replace(' ', '-'))
    return anchors


def check_links(root, path, problems):
    folder = os.path.dirname(path)
    with open(path, encoding='utf-8') as f:
        markdown = f.read()
    count = 0
    for target in LINK.findall(markdown):
        if re.match(r'[a-z]+:', target) or target.startswith('#'):
            continue
        count += 1
        file_part, _, anchor = target.partition('#')
        resolved = os.path.normpath(os.path.join(folder, file_part))
        where = os.path.relpath(path, root)
        if not os.path.exists(resolved):
            problems.append(f'{where}: the link {target} names no file')
        elif anchor and resolved.endswith('.md'):
            with open(resolved, encoding='utf-8') as f:
                if anchor not in heading_anchors(f.read()):
                    problems.append(f'{where}: the link {target} names no heading there')
    return count


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    root = os.path.abspath(sys.argv[1])
    readme = os.path.join(root, 'README.md')
    with open(readme, encoding='utf-8') as f:
        markdown = f.read()
    problems = []

    lines = markdown.count('\n')
    if lines > MAX_README_LINES:
        problems.append(f'README.md has {lines} lines, more than {MAX_README_LINES}')

    commands = readme_commands(markdown)
    for required in ('scripts/demo', 'scripts/test'):
        if required not in commands:
            problems.append(f'README.md gives no {required} command')
    for script, flags in sorted(commands.items()):
        path = os.path.join(root, script)
        if not os.access(path, os.X_OK):
            problems.append(f'README.md gives {script}, which is not an executable file')
            continue
        status, output = run_help(root, script)
        if status != 0:
            problems.append(f'{script} --help: ' + ('still running after %d s' % HELP_TIMEOUT_S
                            if status is None else f'exit status {status}'))
            continue
        named = [flag for flag in sorted(flags)
                 if re.search(r'(?<![\w-])' + re.escape(flag) + r'(?![\w-])', output)]
        for flag in sorted(flags - set(named)):
            problems.append(f'README.md gives {script} {flag}, which its --help does not name')
        print(f'{script} --help: exit 0' + (f', names {" ".join(named)}' if named else ''))

    docs = os.path.join(root, 'docs')
    documents = [readme] + sorted(os.path.join(docs, n) for n in os.listdir(docs) if n.endswith('.md'))
    links = sum(check_links(root, path, problems) for path in documents)
    print(f'{links} relative links in README.md and docs/ checked')

    for problem in problems:
        print('FAILED: ' + problem)
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
