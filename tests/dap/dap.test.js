// quorvelin-debug --dap driven by the DAP client VS Code's own debug adapters
// are tested with (@vscode/debugadapter-testsupport).
//   QV_DEBUG=path/to/quorvelin-debug QV_RUN=path/to/quorvelin-run node --test dap.test.js
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const adapter = process.env.QV_DEBUG;
const runner = process.env.QV_RUN;
const here = __dirname;
const calls = path.join(here, 'calls.ic');
const nullRead = path.join(here, 'null.ic');
const loop = path.join(here, 'loop.ic');
const spin = path.join(here, 'spin.ic');
const chatty = path.join(here, '..', 'debug', 'chatty.ic');

async function start(t) {
  const dc = new DebugClient(adapter, '--dap', 'quorvelin');
  dc.defaultTimeout = 10000;
  await dc.start();
  // Every event is kept, so that none is missed between a response and
  // the wait for it.
  dc.seen = [];
  dc.taken = new Set();
  for (const e of ['output', 'stopped', 'exited', 'terminated']) dc.on(e, (ev) => dc.seen.push(ev));
  dc.output = (category) =>
    dc.seen.filter((e) => e.event === 'output' && e.body.category === category).map((e) => e.body.output).join('');
  // Every session ends with a disconnect, after which the adapter ends by
  // itself, with status 0 and nothing on standard error (a sanitizer's
  // report goes there).  All of a test's sessions are ended before any of
  // this is asserted.
  const proc = dc._adapterProcess;
  let stderr = '';
  proc.stderr.on('data', (d) => { stderr += d; });
  dc.exit = new Promise((r) => proc.on('exit', (code, signal) => r(signal || code)));
  dc.end = async () => {
    if (proc.exitCode === null && proc.signalCode === null) dc.disconnectRequest({}).catch(() => {});
    let timer;
    const status = await Promise.race([dc.exit, new Promise((r) => { timer = setTimeout(() => r('still running'), 10000); })]);
    clearTimeout(timer);
    if (status === 'still running') proc.kill('SIGKILL');
    return { status, stderr };
  };
  if (!t.sessions) {
    t.sessions = [];
    t.after(async () => {
      const ends = await Promise.all(t.sessions.map((s) => s.end()));
      for (const { status, stderr } of ends) {
        assert.strictEqual(status, 0, `the adapter's end; its standard error: ${stderr}`);
        assert.strictEqual(stderr, '');
      }
    });
  }
  t.sessions.push(dc);
  return dc;
}

// The next event of a kind not taken yet.
async function next(dc, type, ms = 10000) {
  for (const end = Date.now() + ms; Date.now() < end; await new Promise((r) => setTimeout(r, 10))) {
    const ev = dc.seen.find((e) => e.event === type && !dc.taken.has(e));
    if (ev) {
      dc.taken.add(ev);
      return ev;
    }
  }
  throw new Error(`no ${type} event in ${ms} ms`);
}

async function outputHas(dc, category, re) {
  for (const end = Date.now() + 10000; Date.now() < end; await new Promise((r) => setTimeout(r, 10)))
    if (re.test(dc.output(category))) return;
  assert.match(dc.output(category), re);
}

// The client's helpers, with the adapter's own initialized event.
async function launch(dc, args) {
  const init = await dc.initializeRequest();
  assert.ok(init.body.supportsConfigurationDoneRequest);
  const initialized = dc.waitForEvent('initialized');
  await dc.launchRequest(args);
  await initialized;
}

async function stoppedAt(dc, reason, line, name) {
  const ev = await next(dc, 'stopped');
  assert.strictEqual(ev.body.reason, reason, JSON.stringify(ev.body));
  const st = await dc.stackTraceRequest({ threadId: 1 });
  const top = st.body.stackFrames[0];
  if (line !== undefined) assert.strictEqual(top.line, line, `stopped at ${top.name}:${top.line}`);
  if (name !== undefined) assert.strictEqual(top.name, name);
  return { ev, frames: st.body.stackFrames };
}

async function vars(dc, frameId, scope) {
  const sc = await dc.scopesRequest({ frameId });
  const ref = sc.body.scopes.find((s) => s.name === scope).variablesReference;
  const v = await dc.variablesRequest({ variablesReference: ref });
  return { ref, list: v.body.variables, get: (n) => v.body.variables.find((x) => x.name === n) };
}

test('breakpoints hit and moved, console input, three calls deep: frames, variables, evaluate, set, step out, exit', async (t) => {
  const dc = await start(t);
  await launch(dc, { program: calls });
  const set = await dc.setBreakpointsRequest({
    source: { path: calls },
    breakpoints: [{ line: 12 }, { line: 500 }, { line: 33, condition: 'rr == 999' }],
  });
  const [moved, past, conditional] = set.body.breakpoints;
  assert.ok(moved.verified && moved.line === 13, 'an empty line moves to the next line with code');
  assert.ok(!past.verified && /no code/.test(past.message));
  assert.ok(conditional.verified);
  const fn = await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'Mid' }, { name: 'Nowhere' }] });
  assert.strictEqual(fn.body.breakpoints[0].line, 16, "a procedure stops at its first line after ntr");
  assert.ok(!fn.body.breakpoints[1].verified);
  await dc.configurationDoneRequest();

  // No stdinFile: the program asks, and the console's line is its input.
  await outputHas(dc, 'console', /waits for input/);
  assert.strictEqual(dc.output('stdout'), 'n? ');
  await dc.evaluateRequest({ expression: '20', context: 'repl' });
  let at = await stoppedAt(dc, 'function breakpoint', 16, 'Mid');
  assert.deepStrictEqual(at.frames.map((f) => f.name), ['Mid', 'Top', 'Main']);

  await dc.continueRequest({ threadId: 1 });
  at = await stoppedAt(dc, 'breakpoint', 13, 'Leaf');
  assert.deepStrictEqual(at.ev.body.hitBreakpointIds, [moved.id]);
  assert.deepStrictEqual(at.frames.map((f) => [f.name, f.line]), [['Leaf', 13], ['Mid', 24], ['Top', 32], ['Main', 42]]);
  assert.strictEqual(path.resolve(at.frames[2].source.path), calls);

  // Each frame's record and its registers as that frame saw them.
  const [leaf, mid] = at.frames;
  let locals = await vars(dc, leaf.id, 'Locals');
  assert.strictEqual(locals.get('var 0, 2').value, '42');
  assert.strictEqual(locals.get('var 0, -16').value, '21');
  assert.strictEqual(locals.get('var 0, -16').type, 'argument');
  const midLocals = await vars(dc, mid.id, 'Locals');
  assert.strictEqual(midLocals.get('var 0, 2').value, '21');
  assert.strictEqual(midLocals.get('var 0, -16').value, '20');
  const regs = await vars(dc, leaf.id, 'Registers');
  assert.deepStrictEqual(regs.list.map((v) => v.name).slice(0, 3), ['r0', 'r1', 'r2']);
  assert.strictEqual(regs.get('r1').value, '42');
  assert.strictEqual((await vars(dc, mid.id, 'Registers')).get('r0').value, '20');
  // r2 holds the local's address: it opens to the words there.
  const r2 = regs.get('r2');
  assert.ok(r2.variablesReference > 0);
  const words = await dc.variablesRequest({ variablesReference: r2.variablesReference });
  assert.strictEqual(words.body.variables[0].value, '42');
  assert.strictEqual(words.body.variables[0].evaluateName, `*0x${(+r2.value >>> 0).toString(16).padStart(8, '0')}`);

  // Expressions in the watch pane and the console, per frame; the terminal
  // debugger's commands in the console.
  const ev = (expression, context, frameId) => dc.evaluateRequest({ expression, context, frameId });
  assert.strictEqual((await ev('r1', 'watch', leaf.id)).body.result, '42');
  assert.strictEqual((await ev('/x r1', 'hover', leaf.id)).body.result, '0x0000002a');
  assert.strictEqual((await ev('var 0, -16', 'watch', mid.id)).body.result, '20');
  assert.match((await ev('bt', 'repl', leaf.id)).body.result, /#2 +Top at calls\.ic:32/);
  assert.match((await ev('info breakpoints', 'repl')).body.result, /stop only if rr == 999/);
  await assert.rejects(ev('r99', 'watch', leaf.id), /No symbol/);
  await assert.rejects(ev('continue', 'repl'), /buttons/);

  // Set: a live register and a word of the record; the program goes on with them.
  const r1 = await dc.setVariableRequest({ variablesReference: regs.ref, name: 'r1', value: '50' });
  assert.strictEqual(r1.body.value, '50');
  await dc.setVariableRequest({ variablesReference: locals.ref, name: 'var 0, 2', value: '-7' });
  locals = await vars(dc, leaf.id, 'Locals');
  assert.strictEqual(locals.get('var 0, 2').value, '-7');
  assert.strictEqual((await ev('r0', 'watch', leaf.id)).body.result, '21', 'the other registers are kept');
  await assert.rejects(dc.setVariableRequest({ variablesReference: regs.ref, name: 'r1', value: 'x' }));

  await dc.stepOutRequest({ threadId: 1 });
  at = await stoppedAt(dc, 'step', 25, 'Mid');
  assert.strictEqual((await ev('rr', 'watch', at.frames[0].id)).body.result, '50');
  await dc.continueRequest({ threadId: 1 });
  const exited = await next(dc, 'exited');
  assert.strictEqual(exited.body.exitCode, 0);
  await next(dc, 'terminated');
  assert.strictEqual(dc.output('stdout'), 'n? 50 \n', 'the condition rr == 999 never held');
});

test('stop on entry, step over and into calls, step out; input from stdinFile', async (t) => {
  const dc = await start(t);
  await launch(dc, { program: [calls], stdinFile: path.join(here, 'calls.in'), stopOnEntry: true });
  await dc.configurationDoneRequest();
  await stoppedAt(dc, 'entry', 37, 'Main');
  const lines = [];
  for (let i = 0; i < 5; i++) {
    await dc.nextRequest({ threadId: 1 });
    lines.push((await stoppedAt(dc, 'step')).frames[0].line);
  }
  assert.deepStrictEqual(lines, [38, 39, 40, 41, 42]);
  assert.strictEqual(dc.output('stdout'), 'n? ');
  await dc.stepInRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 28, 'Top');
  for (const want of [29, 30, 31, 32]) {
    await dc.nextRequest({ threadId: 1 });
    await stoppedAt(dc, 'step', want);
  }
  await dc.nextRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 33, 'Top');
  assert.strictEqual((await dc.evaluateRequest({ expression: 'rr', context: 'watch' })).body.result, '42', 'over the call');
  await dc.stepOutRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 43, 'Main');
  await dc.continueRequest({ threadId: 1 });
  assert.strictEqual((await next(dc, 'exited')).body.exitCode, 0);
  assert.strictEqual(dc.output('stdout'), 'n? 42 \n');
});

test('Step Back and Reverse Continue go back to the same state, the output not shown again', async (t) => {
  const dc = await start(t);
  const init = await dc.initializeRequest();
  assert.strictEqual(init.body.supportsStepBack, true);
  const initialized = dc.waitForEvent('initialized');
  await dc.launchRequest({ program: [calls], stdinFile: path.join(here, 'calls.in'), stopOnEntry: true });
  await initialized;
  await dc.setBreakpointsRequest({ source: { path: calls }, breakpoints: [{ line: 8 }] });
  await dc.configurationDoneRequest();
  await stoppedAt(dc, 'entry', 37, 'Main');
  // Back before Main: the end line's code, which is in no procedure.
  await dc.stepBackRequest({ threadId: 1 });
  const startUp = await stoppedAt(dc, 'step', 46, '(start-up)');
  assert.deepStrictEqual((await vars(dc, startUp.frames[0].id, 'Locals')).list.map((v) => v.value),
    ['none: the start-up code is in no procedure']);
  await dc.stepInRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 37, 'Main');
  for (let i = 0; i < 4; i++) {
    await dc.nextRequest({ threadId: 1 });
    await next(dc, 'stopped');
  }
  await dc.stepBackRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 40, 'Main');
  await dc.stepBackRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 39, 'Main');
  await dc.continueRequest({ threadId: 1 });
  await stoppedAt(dc, 'breakpoint', 8, 'Leaf');
  const value = async (e) => (await dc.evaluateRequest({ expression: e, context: 'watch' })).body.result;
  const at8 = [await value('r0'), await value('$29'), await value('$30')];
  await dc.nextRequest({ threadId: 1 });
  await stoppedAt(dc, 'step', 9, 'Leaf');
  await dc.customRequest('reverseContinue', { threadId: 1 });
  const back = await stoppedAt(dc, 'breakpoint', 8, 'Leaf');
  assert.deepStrictEqual(back.frames.map((f) => f.name), ['Leaf', 'Mid', 'Top', 'Main']);
  assert.deepStrictEqual([await value('r0'), await value('$29'), await value('$30')], at8);
  await dc.continueRequest({ threadId: 1 });
  assert.strictEqual((await next(dc, 'exited')).body.exitCode, 0);
  assert.strictEqual(dc.output('stdout'), 'n? 42 \n');
});

test('launch args are the program\'s arguments, as quorvelin-run gives them', async (t) => {
  const program = path.join(here, '..', 'debug', 'arguments.ic');
  const args = ['-quiet', 'two words'];
  const want = spawnSync(runner, [program, '--', ...args], { encoding: 'utf8' });
  assert.strictEqual(want.stdout, '-quiet\ntwo words\n');
  const dc = await start(t);
  await launch(dc, { program, args });
  await dc.configurationDoneRequest();
  assert.strictEqual((await next(dc, 'exited')).body.exitCode, 0);
  assert.strictEqual(dc.output('stdout'), want.stdout);
});

test('a null read stops as a run-time error with the runner\'s message; the run ends with the runner\'s status', async (t) => {
  const want = spawnSync(runner, [nullRead], { encoding: 'utf8' });
  assert.notStrictEqual(want.status, 0);
  const dc = await start(t);
  await launch(dc, { program: nullRead });
  await dc.configurationDoneRequest();
  const at = await stoppedAt(dc, 'exception', 5, 'Inner');
  assert.match(at.ev.body.description, /null pointer/);
  assert.deepStrictEqual(at.frames.map((f) => [f.name, f.line]), [['Inner', 5], ['Outer', 9], ['Main', 16]]);
  // The machine stays as the error left it: registers and evaluate work there.
  const regs = await vars(dc, at.frames[0].id, 'Registers');
  assert.strictEqual(regs.get('r3').value, '0');
  assert.match(regs.get('r4').value, /^\d+$/);
  assert.strictEqual((await dc.evaluateRequest({ expression: 'r3', frameId: at.frames[0].id, context: 'watch' })).body.result, '0');
  const info = await dc.exceptionInfoRequest({ threadId: 1 });
  assert.match(info.body.details.message, /null\.ic:9:2: note: called from here \(in 'Outer'\)/);
  assert.strictEqual(dc.output('stdout'), 'before\n');
  await dc.continueRequest({ threadId: 1 });
  assert.strictEqual((await next(dc, 'exited')).body.exitCode, want.status);

  // Without the run-time error filter the run just ends, with the message.
  const quiet = await start(t);
  await launch(quiet, { program: nullRead });
  await quiet.setExceptionBreakpointsRequest({ filters: [] });
  await quiet.configurationDoneRequest();
  assert.strictEqual((await next(quiet, 'exited')).body.exitCode, want.status);
  assert.match(quiet.output('stderr'), /read from address 0x00000000/);
  assert.ok(!quiet.seen.some((e) => e.event === 'stopped'));
});

test('pause, a breakpoint set while running, malformed requests, a program that does not check, disconnect mid-run', async (t) => {
  const bad = await start(t);
  await bad.initializeRequest();
  await assert.rejects(bad.launchRequest({ program: [loop, nullRead] }), /errors/);
  await outputHas(bad, 'stderr', /label 'C' is defined twice/);
  await assert.rejects(bad.launchRequest({}), /program/);
  await assert.rejects(bad.launchRequest({ program: { path: loop } }), /'program' is not a string or a list/);
  await assert.rejects(bad.continueRequest({ threadId: 1 }), /launch/);

  const dc = await start(t);
  await launch(dc, { program: loop });
  await dc.configurationDoneRequest();
  await new Promise((r) => setTimeout(r, 300));
  await dc.pauseRequest({ threadId: 1 });
  const at = await stoppedAt(dc, 'pause', undefined, 'Main');
  assert.ok([6, 7].includes(at.frames[0].line));
  await dc.continueRequest({ threadId: 1 });
  await new Promise((r) => setTimeout(r, 200));
  const set = await dc.setBreakpointsRequest({ source: { path: loop }, breakpoints: [{ line: 7 }] });
  assert.ok(set.body.breakpoints[0].verified);
  await stoppedAt(dc, 'breakpoint', 7, 'Main');

  // A pause while stepping over a call that never returns.
  const sp = await start(t);
  await launch(sp, { program: spin });
  await sp.setBreakpointsRequest({ source: { path: spin }, breakpoints: [{ line: 11 }] });
  await sp.configurationDoneRequest();
  await stoppedAt(sp, 'breakpoint', 11, 'Main');
  await sp.nextRequest({ threadId: 1 });
  await new Promise((r) => setTimeout(r, 300));
  await sp.pauseRequest({ threadId: 1 });
  const inSpin = await stoppedAt(sp, 'pause', undefined, 'Spin');
  assert.deepStrictEqual(inSpin.frames.map((f) => f.name), ['Spin', 'Main']);
  await sp.disconnectRequest({});

  // What the program prints reaches the Debug Console while it runs: this
  // one prints, then loops for ever.
  const ch = await start(t);
  await launch(ch, { program: chatty });
  await ch.configurationDoneRequest();
  await outputHas(ch, 'stdout', /^started\n/);
  assert.ok(!ch.seen.some((e) => e.event === 'stopped'), 'the output came before any stop');
  await ch.pauseRequest({ threadId: 1 });
  await stoppedAt(ch, 'pause', undefined, 'Main');
  await ch.disconnectRequest({});

  // Arguments not of the protocol's shape get a failure naming the field,
  // with nothing of the request done (the breakpoint at 7 stays); a frame
  // that is not JSON is answered; the adapter goes on.
  const source = { path: loop };
  for (const [command, args, message] of [
    ['setBreakpoints', { source: 'loop.ic', breakpoints: [{ line: 7 }] }, /'source' is not an object/],
    ['setBreakpoints', { source, breakpoints: 7 }, /'breakpoints' is not a list/],
    ['setBreakpoints', { source, breakpoints: [{ line: 6 }, { line: 7, condition: 5 }] }, /'breakpoints\[1\]\.condition' is not a string/],
    ['setBreakpoints', { source, lines: [6, '7'] }, /'lines\[1\]' is not an integer/],
    ['setExceptionBreakpoints', { filters: 'runtime' }, /'filters' is not a list/],
    ['evaluate', { context: 'watch' }, /'expression' is missing/],
    ['variables', { variablesReference: 'x' }, /'variablesReference' is not an integer/],
    ['scopes', { frameId: 2 ** 40 }, /'frameId' is out of range/],
    ['pause', { threadId: 'main' }, /'threadId' is not an integer/],
    ['threads', [1], /arguments are not an object/],
    ['noSuchRequest', {}, /unknown request/],
  ])
    await assert.rejects(dc.customRequest(command, args), message, `${command} ${JSON.stringify(args)}`);
  const kept = await dc.evaluateRequest({ expression: 'info breakpoints', context: 'repl' });
  assert.match(kept.body.result, /^1 +breakpoint +y +loop\.ic:7,/m, 'the breakpoint stays');
  // The protocol's first form, lines without breakpoints, is taken too.
  const byLines = await dc.setBreakpointsRequest({ source, lines: [7] });
  assert.ok(byLines.body.breakpoints[0].verified && byLines.body.breakpoints[0].line === 7);
  const proc = dc._adapterProcess;
  proc.stdin.write('Content-Length: 9\r\n\r\n{"seq": 1');
  proc.stdin.write('Content-Length: x\r\n\r\n');
  for (const odd of ['{"type":"request","seq":"a","command":"threads"}', '{"type":7,"seq":3,"command":"threads"}'])
    proc.stdin.write(`Content-Length: ${odd.length}\r\n\r\n${odd}`);
  assert.strictEqual((await dc.threadsRequest()).body.threads.length, 1);

  await dc.setBreakpointsRequest({ source: { path: loop }, breakpoints: [] });
  await dc.continueRequest({ threadId: 1 });
  await new Promise((r) => setTimeout(r, 200));
  const children = execFileSync('ps', ['-o', 'pid=', '--ppid', String(proc.pid)], { encoding: 'utf8' }).trim();
  assert.ok(children, 'SPIM runs under the adapter');
  await dc.disconnectRequest({});
  assert.strictEqual(await dc.exit, 0, 'the adapter ends after a disconnect');
  for (const pid of children.split(/\s+/)) assert.ok(!fs.existsSync(`/proc/${pid}`), `SPIM (${pid}) is gone`);
});

test('what the user is told: a failed launch, a line SPIM refuses, a breakpoint on the end line, typed input', async (t) => {
  // A launch that fails is shown to the user (showUser) and kept in the console.
  const dc = await start(t);
  await dc.initializeRequest();
  const raw = (command, args) => new Promise((r) => dc.doSend(command, args, r));
  for (const [args, message] of [
    [{ program: calls, spim: '/nonexistent/spim' }, /SPIM is not installed at \/nonexistent\/spim: install it with 'sudo apt-get install spim'/],
    [{ program: calls, spim: 'no-such-spim' }, /no 'no-such-spim' on the PATH/],
    [{ program: calls, stdinFile: path.join(here, 'nothere.in') }, /cannot open the input file \(stdinFile\) .*nothere\.in: No such file/],
    [{ program: path.join(here, 'nothere.ic') }, /cannot open .*nothere\.ic: No such file/],
  ]) {
    const res = await raw('launch', args);
    assert.ok(!res.success);
    assert.match(res.message, message);
    assert.strictEqual(res.body.error.showUser, true);
    assert.match(dc.output('stderr'), message);
  }

  // With noCheck a branch to an undefined label stops once, as an error at
  // its line; the next continue ends the run.
  const un = await start(t);
  const undefinedLabel = path.join(here, 'undefined.ic');
  await launch(un, { program: undefinedLabel, noCheck: true });
  await un.configurationDoneRequest();
  const at = await stoppedAt(un, 'exception', 5, 'Main');
  assert.match(at.ev.body.description, /SPIM cannot run line 5 \('bra Nowhere'\): it names a label that is defined nowhere/);
  await un.continueRequest({ threadId: 1 });
  assert.strictEqual((await next(un, 'exited')).body.exitCode, 2);
  assert.ok(!un.seen.some((e) => e.event === 'stopped' && e !== at.ev), 'no second stop');

  // The end line holds no line of the program's own; console input is
  // answered with where it went.
  const io = await start(t);
  await launch(io, { program: calls });
  const set = await io.setBreakpointsRequest({ source: { path: calls }, breakpoints: [{ line: 46 }] });
  assert.ok(!set.body.breakpoints[0].verified);
  assert.match(set.body.breakpoints[0].message, /'end' line only starts the program/);
  await io.configurationDoneRequest();
  await outputHas(io, 'console', /waits for input/);
  const typed = await io.evaluateRequest({ expression: '20', context: 'repl' });
  assert.strictEqual(typed.body.result, '(input to the program)');
  assert.strictEqual((await next(io, 'exited')).body.exitCode, 0);
  assert.strictEqual(io.output('stdout'), 'n? 42 \n');
});
