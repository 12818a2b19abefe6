#!/usr/bin/python3
"""Mutants made by rule, not by choice: every comparison flipped or loosened,
every operand of && and || dropped, every integer constant off by one, every
return value swapped for another of the same function, every call's result
ignored, in the files given. Each mutant is built in a copy of the checkout
and run against the tests that execute its line (a coverage map made first,
one test at a time), and one the plain build's tests let live is tried
again in the sanitizers' build, as the test command runs them too; one that
no test kills survives, unless
scripts/mutants-equivalent.txt says, with a reason, that it cannot change
what the program does. A score per file, and every survivor.

  mutants.py [--seed N] [--most N] [--files FILE...] [--list] [--keep] [--plain]

Without --files: the product's sources (not its tests) changed since the
last release tag, or in the last 30 commits when there is none; a file only
moved is no change. --most picks a sample of that many mutants a file
(seeded, 15 by default; 0 for all). The labs of real servers, the slowest
tests, run last: only for a mutant every quicker test let live. Exits 1
when a file keeps more than 20% of its mutants alive, equivalents aside. As root with Samba installed: the
tests of the smb network run beside Samba servers."""
import argparse
import gzip
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

PRODUCT = ('cli/', 'operations/', 'credentials/', 'store/', 'platform/', 'tools/vesknet/')
# Built only for Windows, and tested under Wine by the Windows build.
WINDOWS_ONLY = ('platform/native/', 'tools/vesknet/windows/')
SOURCE = re.compile(r'\.(cc|c|h)$')
EQUIVALENTS = 'scripts/mutants-equivalent.txt'
THRESHOLD = 0.8


def run(command, cwd=None, quiet=True, timeout=None):
    out = subprocess.DEVNULL if quiet else None
    return subprocess.run(command, cwd=cwd, stdout=out, stderr=out, timeout=timeout).returncode


def output(command, cwd=None):
    return subprocess.run(command, cwd=cwd, capture_output=True, text=True).stdout


# ---- which files ----------------------------------------------------------

def changedFiles(top):
    tags = output(['git', 'describe', '--tags', '--abbrev=0'], top).strip()
    base = tags or output(['git', 'rev-list', '--max-count=1', '--skip=30', 'HEAD'], top).strip()
    if not base:
        base = output(['git', 'rev-list', '--max-parents=0', 'HEAD'], top).split()[0]
    names = output(['git', 'diff', '--name-only', '--diff-filter=AMR', '-M', base, 'HEAD'], top).split()
    # A file moved whole is no change: -M names it, but its content is the old one's.
    moved = set()
    for line in output(['git', 'diff', '--name-status', '-M100%', base, 'HEAD'], top).splitlines():
        fields = line.split('\t')
        if fields[0] == 'R100':
            moved.add(fields[2])
    return [n for n in names if n.startswith(PRODUCT) and not n.startswith(WINDOWS_ONLY) and SOURCE.search(n)
            and n not in moved and os.path.exists(os.path.join(top, n))], base


# ---- the code, without what is not code -------------------------------------

def codeMask(text):
    """The text with comments, string and character literals' contents and
    preprocessor lines blanked (same length), so that no mutant lands there."""
    out = list(text)
    i, n = 0, len(text)
    lineStart = True
    while i < n:
        c = text[i]
        if lineStart and c == '#':
            while i < n and text[i] != '\n':
                if text[i] == '\\' and i + 1 < n and text[i + 1] == '\n':
                    out[i] = ' '
                    i += 2
                    continue
                out[i] = ' '
                i += 1
            continue
        if c == '\n':
            lineStart = True
            i += 1
            continue
        if not c.isspace():
            lineStart = False
        if text.startswith('//', i):
            while i < n and text[i] != '\n':
                out[i] = ' '
                i += 1
            continue
        if text.startswith('/*', i):
            end = text.find('*/', i + 2)
            end = n if end < 0 else end + 2
            for k in range(i, end):
                if out[k] != '\n':
                    out[k] = ' '
            i = end
            continue
        if c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            if m:
                close = text.find(')' + m.group(1) + '"', i)
                close = n if close < 0 else close + len(m.group(1)) + 2
                for k in range(i + 1, close):
                    if out[k] != '\n':
                        out[k] = ' '
                i = close
                continue
        if c in '"\'':
            k = i + 1
            while k < n and text[k] != c and text[k] != '\n':
                if text[k] == '\\':
                    out[k] = ' '
                    k += 1
                out[k] = ' ' if k < n else out[k]
                k += 1
            i = k + 1
            continue
        i += 1
    return ''.join(out)


class Mutant:
    def __init__(self, path, start, end, replacement, kind, text):
        self.path, self.start, self.end, self.replacement, self.kind = path, start, end, replacement, kind
        self.line = text.count('\n', 0, start) + 1
        lineStart = text.rfind('\n', 0, start) + 1
        lineEnd = text.find('\n', start)
        lineEnd = len(text) if lineEnd < 0 else lineEnd
        self.before = text[lineStart:lineEnd].strip()
        mutated = text[:start] + replacement + text[end:]
        mutatedEnd = mutated.find('\n', start)
        self.after = mutated[lineStart:len(mutated) if mutatedEnd < 0 else mutatedEnd].strip()
        self.verdict = None

    def key(self):
        return (self.path, self.before, self.after)

    def describe(self):
        return '%s:%d %s: %s  =>  %s' % (self.path, self.line, self.kind, self.before, self.after)


OPPOSITE = {'==': ['!='], '!=': ['=='], '<': ['<=', '>='], '<=': ['<', '>'], '>': ['>=', '<='], '>=': ['>', '<']}
KEYWORDS = {'if', 'while', 'for', 'switch', 'return', 'sizeof', 'catch', 'static_assert', 'decltype', 'alignof',
            'defined', 'noexcept', 'throw', 'case', 'new', 'delete', 'do', 'else', 'operator', 'template'}


def comparisons(path, text, code):
    for m in re.finditer(r'(?<=[\w\)\]\'"] )(==|!=|<=|>=|<|>)(?= [\w\(!\-*&\'"])', code):
        for other in OPPOSITE[m.group(1)]:
            yield Mutant(path, m.start(), m.end(), other, 'comparison', text)


def operandEnd(code, i, step, stopAtAnd):
    """Where an operand of a logical operator ends, scanning from i in step's
    direction over balanced brackets: the index past its last character."""
    depth, n = 0, len(code)
    opens, closes = ('([{', ')]}') if step > 0 else (')]}', '([{')
    k = i
    while 0 <= k < n:
        c = code[k]
        if c in opens:
            depth += 1
        elif c in closes:
            if depth == 0:
                break
            depth -= 1
        elif depth == 0:
            two = code[k:k + 2] if step > 0 else code[k - 1:k + 1]
            if c in ';,?{}' or (c == ':' and two != '::' and code[k - 1:k + 1] != '::' and code[k:k + 2] != '::'):
                break
            if two == '||' or (stopAtAnd and two == '&&'):
                break
            if c == '=' and two not in ('==', '!=', '<=', '>=') and code[k - 1:k + 1] not in ('==', '!=', '<=', '>=') \
                    and code[k:k + 2] != '==':
                break
            if step < 0 and re.match(r'\breturn\b', code[k - 5:k + 1] if k >= 5 else ''):
                break  # at the keyword's last letter: the operand starts after it
        k += step
    return k


def logicalOperands(path, text, code):
    for m in re.finditer(r' (&&|\|\|) ', code):
        andOp = m.group(1) == '&&'
        left = operandEnd(code, m.start() - 1, -1, True) + 1
        right = operandEnd(code, m.end(), 1, andOp)
        while left < m.start() and code[left].isspace():
            left += 1
        while right > m.end() and code[right - 1].isspace():
            right -= 1
        if left >= m.start() or right <= m.end():
            continue
        yield Mutant(path, left, m.end(), '', 'operand dropped', text)      # the left one
        yield Mutant(path, m.start(), right, '', 'operand dropped', text)   # the right one


def constants(path, text, code):
    for m in re.finditer(r'(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.])', code):
        digits = m.group(1)
        if digits == '0' and re.search(r'\)\s*(const\s*)?=\s*$', code[max(0, m.start() - 40):m.start()]):
            continue  # a pure virtual function's "= 0" is no number
        hexadecimal = digits.lower().startswith('0x')
        value = int(digits, 16) if hexadecimal else int(digits)
        other = value + 1 if value == 0 else value - 1
        written = ('0x%X' if digits[2:] != digits[2:].lower() else '0x%x') % other if hexadecimal else str(other)
        replacement = written + m.group(2)
        yield Mutant(path, m.start(), m.end(), replacement, 'constant off by one', text)


def functionBodies(code):
    """(start, end) of each function body: a brace block that follows a
    parameter list, lambdas included."""
    bodies, stack = [], []
    for k, c in enumerate(code):
        if c == '{':
            head = code[max(0, k - 200):k]
            isFunction = re.search(r'\)\s*(const\s*)?(override\s*)?(noexcept\s*)?(->\s*[\w:<>&*\s]+)?\s*$', head)
            stack.append((k, bool(isFunction) and not re.search(r'\b(if|for|while|switch|catch)\s*\([^;{}]*\)\s*$', head)))
        elif c == '}' and stack:
            start, isFunction = stack.pop()
            if isFunction:
                bodies.append((start, k))
    return bodies


def returns(path, text, code):
    bodies = functionBodies(code)
    found = {}
    for m in re.finditer(r'\breturn\s+([^;]+);', code):
        body = min((b for b in bodies if b[0] < m.start() < b[1]), key=lambda b: b[1] - b[0], default=None)
        if body:
            found.setdefault(body, []).append((m.start(1), m.end(1), text[m.start(1):m.end(1)].strip()))
    for body, statements in found.items():
        values = []
        for _, _, value in statements:
            if value not in values:
                values.append(value)
        if len(values) < 2:
            continue
        for start, end, value in statements:
            other = values[(values.index(value) + 1) % len(values)]
            yield Mutant(path, start, end, other, 'return swapped', text)


def ignoredResults(path, text, code):
    cpp = not path.endswith('.c')
    for m in re.finditer(r'(?:(?<=[^=!<>]= )|(?<=\breturn )|(?<=\bif \()|(?<=\bif \(!)|(?<=&& )|(?<=\|\| )|(?<=\bwhile \())'
                         r'((?:[A-Za-z_][\w]*(?:::|\.|->))*[A-Za-z_]\w*)\(', code):
        name = m.group(1).split('::')[-1].split('.')[-1].split('>')[-1]
        if name in KEYWORDS or re.match(r'(static_cast|reinterpret_cast|const_cast|std)$', name):
            continue
        depth, k = 0, m.end() - 1  # to the call's closing parenthesis
        while k < len(code):
            if code[k] == '(':
                depth += 1
            elif code[k] == ')':
                depth -= 1
                if depth == 0:
                    break
            k += 1
        if k >= len(code):
            continue
        call = text[m.start():k + 1]
        if '\n' in call and len(call) > 400:
            continue
        ignored = '((void)%s, decltype(%s){})' % (call, call) if cpp else '(%s, 0)' % call
        yield Mutant(path, m.start(), k + 1, ignored, 'result ignored', text)


GENERATORS = [comparisons, logicalOperands, constants, returns, ignoredResults]


def mutantsOf(top, path):
    text = open(os.path.join(top, path), encoding='latin-1').read()
    code = codeMask(text)
    seen, made = set(), []
    for generate in GENERATORS:
        for mutant in generate(path, text, code):
            if mutant.key() in seen or mutant.before == mutant.after:
                continue
            seen.add(mutant.key())
            made.append(mutant)
    return made, text


# ---- which tests run a line --------------------------------------------------

def configure(copy, build, extraFlags, sanitize=False):
    flags = ['-DCMAKE_BUILD_TYPE=Debug', '-DCMAKE_C_FLAGS=' + extraFlags, '-DCMAKE_CXX_FLAGS=' + extraFlags] \
        if extraFlags else []
    if run(['cmake', '--preset', 'sanitize' if sanitize else 'linux', '-B', build] + flags, cwd=copy) != 0:
        sys.exit('mutants: the copy does not configure')
    if run(['cmake', '--build', build], cwd=copy) != 0:
        sys.exit('mutants: the copy does not build')


def testNames(build):
    names = []
    for line in output(['ctest', '-N'], build).splitlines():
        m = re.match(r'\s*Test\s+#\d+: (\S+)', line)
        if m:
            names.append(m.group(1))
    return names


def coveredLines(copy, build, durations):
    """{(path, line): set of tests} from one run of each test alone; each
    test's time in durations."""
    covered = {}
    gcdas = lambda: [os.path.join(d, f) for d, _, fs in os.walk(build) for f in fs if f.endswith('.gcda')]
    names = testNames(build)
    for number, name in enumerate(names, 1):
        for gcda in gcdas():
            os.remove(gcda)
        print('\rmutants: which lines each test runs: %d of %d' % (number, len(names)), end='', file=sys.stderr)
        began = time.time()
        run(['ctest', '-R', '^%s$' % re.escape(name), '--timeout', '600'], cwd=build)
        durations[name] = time.time() - began
        for gcda in gcdas():
            report = subprocess.run(['gcov', '-t', '-j', '-o', os.path.dirname(gcda), gcda], cwd=build,
                                    capture_output=True, text=True).stdout
            for document in report.splitlines():
                try:
                    files = json.loads(document)['files']
                except (ValueError, KeyError):
                    continue
                for entry in files:
                    source = os.path.relpath(os.path.normpath(os.path.join(build, entry['file'])), copy)
                    for line in entry['lines']:
                        if line['count'] > 0:
                            covered.setdefault((source, line['line_number']), set()).add(name)
    print(file=sys.stderr)
    return covered


def coverageMap(top, copy):
    """The map of the checkout as it is, made once and kept in /tmp for the
    next run of the same sources."""
    state = subprocess.run(['sh', '-c', 'git rev-parse HEAD; git diff HEAD'], cwd=top, capture_output=True).stdout
    cache = '/tmp/veskcfg-mutants-coverage-%08x.json' % (zlibCrc(state))
    if os.path.exists(cache):
        kept = json.load(open(cache))
        return {(k.split('\t')[0], int(k.split('\t')[1])): set(v) for k, v in kept['lines'].items()}, kept['durations']
    configure(copy, 'build/coverage', '--coverage -O0')
    durations = {}
    covered = coveredLines(copy, os.path.join(copy, 'build/coverage'), durations)
    json.dump({'lines': {'%s\t%d' % k: sorted(v) for k, v in covered.items()}, 'durations': durations},
              open(cache, 'w'))
    return covered, durations


def zlibCrc(data):
    import zlib
    return zlib.crc32(data)


def testsOfLine(covered, path, line, text):
    """The tests that run a line. A line the coverage has no count for (a
    statement's later line, a child's code after fork, which ends with _exit
    before the counts are written) takes those of the nearest counted line
    above it in its function; one outside any function (a table's row), the
    tests that run any line of its file; a header's, none here: the caller
    takes those of the sources that include it, as a header's inline
    functions say little of who reads its constants."""
    lines = text.split('\n')
    at = line
    while at > 1 and (path, at) not in covered and line - at < 12:
        above = lines[at - 2]
        if above[:1] not in ('', ' ', '\t', '}'):
            break  # the function's head: nothing above is of it
        at -= 1
    if (path, at) in covered:
        return covered[(path, at)]
    if path.endswith('.h'):
        return set()
    return set().union(*[tests for (source, _), tests in covered.items() if source == path])


def testsOfIncluders(top, header, covered):
    """A header's constants and declarations leave no line of their own in
    the coverage: the tests that run the sources including it."""
    includers = output(['git', 'grep', '-l', '-F', '#include "%s"' % header, '--', '*.cc', '*.c'], top).split()
    includers = {f for f in includers if f.startswith(PRODUCT) or f.startswith('tools/')}
    return set().union(*[tests for (source, _), tests in covered.items() if source in includers])


# ---- the runs ----------------------------------------------------------------

def equivalents(top):
    known = {}
    path = os.path.join(top, EQUIVALENTS)
    if not os.path.exists(path):
        return known
    for line in open(path, encoding='latin-1'):
        if not line.strip() or line.startswith('#'):
            continue
        fields = [f.strip() for f in line.rstrip('\n').split(' | ')]
        # Code may hold " | " too: each way of splitting the middle is tried.
        for cut in range(2, len(fields) - 1):
            known[(fields[0], ' | '.join(fields[1:cut]), ' | '.join(fields[cut:-1]))] = fields[-1]
    return known


def testsFail(copy, build, tests, durations):
    if run(['cmake', '--build', build], cwd=copy) != 0:
        return None
    for test in sorted(tests, key=lambda t: durations.get(t, 600)):
        limit = int(max(30, 5 * durations.get(test, 120)))
        if run(['ctest', '-R', '^%s$' % re.escape(test), '--timeout', str(limit)], cwd=build) != 0:
            return True
    return False


def tryMutant(copy, builds, mutant, text, tests, durations):
    """The tests that run the mutant's line, the quickest first, until one
    fails; each given five times its usual time, so that a mutant that
    hangs a test is killed by it. One that the plain build's tests let live
    is tried again under AddressSanitizer and UndefinedBehaviorSanitizer, as
    the test command runs them too: an overrun is a failure there."""
    path = os.path.join(copy, mutant.path)
    open(path, 'w', encoding='latin-1').write(text[:mutant.start] + mutant.replacement + text[mutant.end:])
    try:
        for build in builds:
            failed = testsFail(copy, build, tests, durations)
            if failed is None:
                return 'not built'
            if failed:
                return 'killed'
        return 'survived'
    finally:
        open(path, 'w', encoding='latin-1').write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--seed', type=int, default=1)
    parser.add_argument('--most', type=int, default=15, help='mutants a file at most, picked by the seed (0: all)')
    parser.add_argument('--files', nargs='+')
    parser.add_argument('--list', action='store_true', help='only list the mutants that would run')
    parser.add_argument('--keep', action='store_true', help='keep the copy (its path is printed)')
    parser.add_argument('--plain', action='store_true', help='no second try under the sanitizers')
    args = parser.parse_args()
    top = output(['git', 'rev-parse', '--show-toplevel']).strip()
    files, base = (args.files, None) if args.files else changedFiles(top)
    if base:
        print('mutants: files changed since %s' % output(['git', 'log', '-1', '--format=%h %s', base], top)[:72])
    chosen = []
    for path in files:
        made, text = mutantsOf(top, path)
        picked = made if args.most == 0 or len(made) <= args.most else \
            random.Random('%d %s' % (args.seed, path)).sample(made, args.most)
        picked.sort(key=lambda m: m.start)
        chosen.append((path, len(made), picked, text))
    if args.list:
        for path, made, picked, _ in chosen:
            print('%s: %d made, %d picked' % (path, made, len(picked)))
            for mutant in picked:
                print('  ' + mutant.describe())
        return 0

    copy = tempfile.mkdtemp(prefix='veskcfg-mutants-')
    try:
        listed = output(['git', 'ls-files', '-z'], top).split('\0')
        for name in filter(None, listed):
            if os.path.exists(os.path.join(top, name)):
                os.makedirs(os.path.dirname(os.path.join(copy, name)) or copy, exist_ok=True)
                shutil.copy2(os.path.join(top, name), os.path.join(copy, name))
        started = time.time()
        covered, durations = coverageMap(top, copy)
        configure(copy, 'build/mutants', '')
        builds = [os.path.join(copy, 'build/mutants')]
        if not args.plain:
            configure(copy, 'build/mutants-asan', '', sanitize=True)
            builds.append(os.path.join(copy, 'build/mutants-asan'))
        known = equivalents(top)
        failing = []
        includerTests = {}
        total = sum(len(picked) for _, _, picked, _ in chosen)
        done = 0
        for path, made, picked, text in chosen:
            for mutant in picked:
                done += 1
                print('\rmutants: %d of %d' % (done, total), end='', file=sys.stderr)
                tests = testsOfLine(covered, path, mutant.line, text)
                if not tests and path.endswith('.h'):
                    if path not in includerTests:
                        includerTests[path] = testsOfIncluders(top, path, covered)
                    tests = includerTests[path]
                mutant.verdict = tryMutant(copy, builds, mutant, text, tests, durations) if tests \
                    else 'survived (no test runs it)'
                print('mutants: %s: %s' % (mutant.verdict, mutant.describe()), file=sys.stderr, flush=True)
                if mutant.verdict.startswith('survived') and mutant.key() in known:
                    mutant.verdict = 'equivalent: ' + known[mutant.key()]
            print(file=sys.stderr)
            built = [m for m in picked if m.verdict != 'not built']
            killed = sum(m.verdict == 'killed' for m in built)
            equivalent = sum(m.verdict.startswith('equivalent') for m in built)
            survived = [m for m in built if m.verdict.startswith('survived')]
            counted = len(built) - equivalent
            score = killed / counted if counted else 1.0
            print('%s: %d made, %d run (%d did not build), %d killed, %d equivalent, %d survived: %.0f%%' %
                  (path, made, len(built), len(picked) - len(built), killed, equivalent, len(survived), 100 * score))
            for mutant in survived:
                print('  SURVIVED %s%s' % (mutant.describe(), '' if mutant.verdict == 'survived' else ' (no test runs it)'))
            for mutant in built:
                if mutant.verdict.startswith('equivalent'):
                    print('  %s (%s)' % (mutant.describe(), mutant.verdict))
            if score < THRESHOLD:
                failing.append(path)
        print('mutants: %d files in %.0f min; %s' % (len(chosen), (time.time() - started) / 60,
                                                     'every one at %d%% or more' % (100 * THRESHOLD) if not failing
                                                     else 'under %d%%: %s' % (100 * THRESHOLD, ', '.join(failing))))
        return 1 if failing else 0
    finally:
        if args.keep:
            print('mutants: the copy is %s' % copy)
        else:
            shutil.rmtree(copy, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
