// The extension's code against stand-ins for VS Code and the language client,
// and its manifest against the files it names.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const Module = require('node:module');

const root = path.join(__dirname, '..');
const manifest = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8'));

// Commands that exist, in a folder put on the PATH: the extension looks for
// them before it starts them.
const bin = fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'qv-ext-'));
for (const name of ['quorvelin-lsp', 'quorvelin-debug', 'other-lsp']) {
  fs.writeFileSync(path.join(bin, name), '#!/bin/sh\n', { mode: 0o755 });
}
process.env.PATH = `${bin}${path.delimiter}${process.env.PATH}`;
process.on('exit', () => fs.rmSync(bin, { recursive: true, force: true }));

// The stand-ins: the settings, the clients started, the messages shown, the
// debugger's registrations and the sessions started.
const world = {
  lspPath: '', debugPath: '', clients: [], errors: [], log: [], onConfig: null, failStart: false,
  factories: {}, trackers: {}, providers: {}, commands: {}, sessions: [], editor: undefined,
  folder: { name: 'ws', uri: { fsPath: '/w' } },
};
const stubs = {
  vscode: {
    workspace: {
      getConfiguration: (section) => ({
        get: (key, dflt) => (section !== 'quorvelin' ? dflt : key === 'lspPath' ? world.lspPath : key === 'debugPath' ? world.debugPath : dflt),
      }),
      onDidChangeConfiguration: (f) => { world.onConfig = f; return { dispose() {} }; },
      getWorkspaceFolder: () => world.folder,
      findFiles: async () => [],
      createFileSystemWatcher: () => ({ onDidCreate: () => ({ dispose() {} }), onDidDelete: () => ({ dispose() {} }), dispose() {} }),
    },
    window: {
      showErrorMessage: async (m) => { world.errors.push(m); return undefined; },
      createOutputChannel: (name) => ({ name, append: (t) => world.log.push(t), appendLine: (t) => world.log.push(`${t}\n`), dispose() {} }),
      get activeTextEditor() { return world.editor; },
    },
    debug: {
      registerDebugAdapterDescriptorFactory: (type, f) => { world.factories[type] = f; return { dispose() {} }; },
      registerDebugAdapterTrackerFactory: (type, f) => { world.trackers[type] = f; return { dispose() {} }; },
      registerDebugConfigurationProvider: (type, p) => { world.providers[type] = p; return { dispose() {} }; },
      startDebugging: async (folder, config) => { world.sessions.push({ folder, config }); return true; },
    },
    commands: { registerCommand: (id, f) => { world.commands[id] = f; return { dispose() {} }; }, executeCommand: async () => {} },
    DebugAdapterExecutable: class { constructor(command, args) { Object.assign(this, { command, args }); } },
    tests: { createTestController: () => ({ items: { replace() {}, forEach() {} }, createTestItem: (id) => ({ id }), createRunProfile() {}, dispose() {} }) },
    TestRunProfileKind: { Run: 1, Debug: 2 },
    Uri: { file: (fsPath) => ({ fsPath }) },
  },
  'vscode-languageclient/node': {
    LanguageClient: class {
      constructor(id, name, server, options) {
        Object.assign(this, { id, server, options, running: false, disposed: false, notified: [] });
        world.clients.push(this);
      }
      // The library's own notification, and a rejection with a plain string.
      error(message, data, show = true) { if (show) this.notified.push(message); }
      async start() {
        if (world.failStart) { this.error('client: couldn\'t create connection to server.', 'Launching server failed', 'force'); throw 'Launching server using command other-lsp failed.'; }
        this.running = true;
      }
      async stop() { this.running = false; }
      async dispose() { this.running = false; this.disposed = true; }
    },
  },
};
const load = Module._load;
Module._load = (request, ...rest) => (request in stubs ? stubs[request] : load(request, ...rest));
// The source, not the bundle: the bundle holds the client library itself.
const ext = require(path.join(root, 'extension.js'));

test('the manifest: language, grammar, configuration and setting agree', () => {
  const lang = manifest.contributes.languages[0];
  assert.deepStrictEqual(lang.extensions, ['.ic']);
  const grammar = manifest.contributes.grammars[0];
  assert.strictEqual(grammar.language, lang.id);
  const tm = JSON.parse(fs.readFileSync(path.join(root, grammar.path), 'utf8'));
  assert.strictEqual(tm.scopeName, grammar.scopeName);
  const config = JSON.parse(fs.readFileSync(path.join(root, lang.configuration), 'utf8'));
  assert.strictEqual(config.comments.lineComment, '//');
  const word = new RegExp(config.wordPattern, 'g');
  assert.deepStrictEqual('cst -16, r0 Fact $t0 _ML3'.match(word), ['cst', '-16', 'r0', 'Fact', '$t0', '_ML3']);
  assert.ok('quorvelin.lspPath' in manifest.contributes.configuration.properties);
  // The server's semantic tokens colour the language's files whatever the theme says.
  assert.strictEqual(manifest.contributes.configurationDefaults[`[${lang.id}]`]['editor.semanticHighlighting.enabled'], true);
});

test('the LICENSE is a file of its own, the same as the project\'s', () => {
  const own = path.join(root, 'LICENSE');
  assert.ok(!fs.lstatSync(own).isSymbolicLink(), 'a plain copy of the folder packages it');
  assert.strictEqual(fs.readFileSync(own, 'utf8'), fs.readFileSync(path.join(root, '..', '..', 'LICENSE'), 'utf8'));
});

test('the server: from the PATH, from the setting, restarted when it changes; a failure said once, with its reason', async () => {
  const lang = manifest.contributes.languages[0].id;
  await ext.activate({ subscriptions: [] });
  let c = world.clients.at(-1);
  assert.strictEqual(c.server.command, 'quorvelin-lsp');
  assert.deepStrictEqual(c.options.documentSelector, [{ language: lang }]);
  assert.strictEqual(c.options.outputChannel.name, 'Quorvelin', 'one output channel for every client');
  assert.ok(c.running);

  world.lspPath = ` ${bin}/other-lsp `;
  await world.onConfig({ affectsConfiguration: (s) => s === 'quorvelin.lspPath' });
  assert.ok(!c.running, 'the old server stopped');
  c = world.clients.at(-1);
  assert.strictEqual(c.server.command, `${bin}/other-lsp`);
  assert.ok(c.running);
  await world.onConfig({ affectsConfiguration: () => false });
  assert.strictEqual(world.clients.at(-1), c, 'other settings leave it alone');

  // Not there: said, with what to do, and no client made.
  const made = world.clients.length;
  world.lspPath = '/nowhere/quorvelin-lsp';
  await world.onConfig({ affectsConfiguration: () => true });
  assert.strictEqual(world.clients.length, made);
  assert.strictEqual(world.errors.length, 1);
  assert.match(world.errors[0], /"\/nowhere\/quorvelin-lsp" does not exist.*quorvelin\.lspPath/);
  world.lspPath = 'no-such-lsp';
  await world.onConfig({ affectsConfiguration: () => true });
  assert.match(world.errors.at(-1), /"no-such-lsp" is not on the PATH.*set quorvelin\.lspPath/);

  // There but failing: the client's rejection (a plain string) is the
  // reason, the client's own notification is held back, the client disposed.
  world.failStart = true;
  world.lspPath = `${bin}/other-lsp`;
  await world.onConfig({ affectsConfiguration: () => true });
  const failed = world.clients.at(-1);
  assert.match(world.errors.at(-1), /cannot start the language server .*\(Launching server using command other-lsp failed\.\)/);
  assert.deepStrictEqual(failed.notified, []);
  assert.ok(failed.disposed);
  assert.match(world.log.join(''), /cannot start the language server/);
  world.failStart = false;
  world.lspPath = '';
  world.errors.length = 0;
  await ext.deactivate();
  assert.ok(!c.running);
});

test('the debugger: its contribution agrees with the language; the adapter from the PATH or the setting, or a message', async () => {
  const lang = manifest.contributes.languages[0].id;
  const [dbg] = manifest.contributes.debuggers;
  assert.strictEqual(dbg.type, 'quorvelin');
  assert.deepStrictEqual(dbg.languages, [lang]);
  assert.deepStrictEqual(manifest.contributes.breakpoints, [{ language: lang }]);
  const launch = dbg.configurationAttributes.launch;
  for (const config of [...dbg.initialConfigurations, ...dbg.configurationSnippets.map((s) => s.body)]) {
    assert.strictEqual(config.type, dbg.type);
    assert.ok(config.program, 'every configuration names its program');
    for (const key of Object.keys(config))
      assert.ok(['type', 'request', 'name'].includes(key) || key in launch.properties, `${key} is a launch attribute`);
  }
  assert.deepStrictEqual(launch.required, ['program']);
  const cmd = manifest.contributes.commands.find((c) => c.command === 'quorvelin.debugFile');
  assert.strictEqual(cmd.title, 'Run and debug this program');
  assert.ok('quorvelin.debugPath' in manifest.contributes.configuration.properties);

  await ext.activate({ subscriptions: [] });
  const factory = world.factories.quorvelin;
  const provider = world.providers.quorvelin;
  world.debugPath = '';
  assert.deepStrictEqual({ ...factory.createDebugAdapterDescriptor({}) }, { command: 'quorvelin-debug', args: ['--dap'] });
  world.debugPath = ` ${bin}/quorvelin-debug `;
  assert.strictEqual(factory.createDebugAdapterDescriptor({}).command, `${bin}/quorvelin-debug`);

  // An adapter that is not there: the session does not start, and the
  // user is told what to set.
  const config = { type: 'quorvelin', request: 'launch', name: 'x', program: 'hello.ic' };
  for (const [where, message] of [['/nowhere/quorvelin-debug', /does not exist.*quorvelin\.debugPath/], ['no-such-debug', /not on the PATH.*quorvelin\.debugPath/]]) {
    world.debugPath = where;
    assert.strictEqual(provider.resolveDebugConfigurationWithSubstitutedVariables(world.folder, config), undefined);
    assert.match(world.errors.at(-1), message);
    assert.throws(() => factory.createDebugAdapterDescriptor({}), message);
  }
  world.debugPath = '';

  // Relative paths are the workspace folder's.
  assert.deepStrictEqual(provider.resolveDebugConfigurationWithSubstitutedVariables(world.folder, { ...config, stdinFile: 'in.txt' }),
    { ...config, program: '/w/hello.ic', stdinFile: '/w/in.txt' });
  assert.deepStrictEqual(provider.resolveDebugConfigurationWithSubstitutedVariables(world.folder, { ...config, program: ['a.ic', '/abs/b.ic'] }).program,
    ['/w/a.ic', '/abs/b.ic']);

  // The adapter's messages to the user and its end reach the log.
  const tracker = world.trackers.quorvelin.createDebugAdapterTracker({ name: 'Debug a.ic' });
  tracker.onDidSendMessage({ type: 'event', event: 'output', body: { category: 'stderr', output: 'quorvelin-debug: SPIM is not installed\n' } });
  tracker.onExit(1);
  assert.match(world.log.join(''), /\[Debug a\.ic\] quorvelin-debug: SPIM is not installed\n\[Debug a\.ic\] the debug adapter ended with status 1/);
  await ext.deactivate();
});

test('the debugger: F5 without a launch.json and "Run and debug this program" debug the program of the file in the editor', async () => {
  await ext.activate({ subscriptions: [] });
  const provider = world.providers.quorvelin;
  world.editor = { document: { languageId: 'quorvelin-ic', isDirty: true, uri: { fsPath: '/w/prog.ic' }, save: async () => { world.editor.document.isDirty = false; } } };
  assert.deepStrictEqual(provider.resolveDebugConfiguration(undefined, {}), {
    type: 'quorvelin', request: 'launch', name: 'Debug this .ic file', program: '/w/prog.ic',
  });
  assert.strictEqual(provider.resolveDebugConfiguration(undefined, { type: 'quorvelin', request: 'launch', name: 'x' }), undefined);
  assert.match(world.errors.at(-1), /names no program/);

  assert.ok(await world.commands['quorvelin.debugFile']());
  assert.ok(!world.editor.document.isDirty, 'the file is saved first');
  assert.deepStrictEqual(world.sessions.at(-1).config, { type: 'quorvelin', request: 'launch', name: 'Debug prog.ic', program: '/w/prog.ic' });

  // A file the workspace's quorvelin.project lists is debugged with the
  // project's files, in its order.
  const ws = fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'qv-ws-'));
  fs.writeFileSync(path.join(ws, 'quorvelin.project'), '# the program\nmain.ic\n\n  lib/twice.ic  \r\nmain.ic\n');
  world.folder = { name: 'ws', uri: { fsPath: ws } };
  world.editor.document.uri = { fsPath: path.join(ws, 'lib', 'twice.ic') };
  const both = [path.join(ws, 'main.ic'), path.join(ws, 'lib', 'twice.ic')];
  assert.deepStrictEqual(provider.resolveDebugConfiguration(undefined, {}).program, both);
  await world.commands['quorvelin.debugFile']();
  assert.deepStrictEqual(world.sessions.at(-1).config.program, both);
  world.editor.document.uri = { fsPath: path.join(ws, 'other.ic') };
  assert.strictEqual(provider.resolveDebugConfiguration(undefined, {}).program, path.join(ws, 'other.ic'), 'not listed: alone');
  fs.rmSync(ws, { recursive: true });
  world.folder = { name: 'ws', uri: { fsPath: '/w' } };

  world.editor = undefined;
  assert.strictEqual(await world.commands['quorvelin.debugFile'](), false);
  assert.match(world.errors.at(-1), /open an \.ic file/);
  await ext.deactivate();
});

test('the Testing view: tests found beside their expected output; quorvelin-test --json read', () => {
  const dir = fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'qv-tests-'));
  for (const f of ['a.ic', 'a.out', 'b.2.ic', 'b.1.ic', 'b.out', 'c.ic']) fs.writeFileSync(path.join(dir, f), '');
  const p = (f) => path.join(dir, f);
  assert.deepStrictEqual(ext.testsOf([p('a.ic'), p('b.2.ic'), p('b.1.ic'), p('c.ic')]),
    [{ id: p('a'), files: [p('a.ic')] }, { id: p('b'), files: [p('b.1.ic'), p('b.2.ic')] }], 'c has no .out: not a test');
  fs.rmSync(dir, { recursive: true });

  assert.deepStrictEqual(ext.outcomeOf({ verdict: 'pass', seconds: 0.0123 }), { state: 'passed', ms: 12 });
  const failed = ext.outcomeOf({ verdict: 'fail', seconds: 0, reasons: ['the output differs'], diff: '-1\n+2\n', reproduce: '  quorvelin-run a.ic\n' });
  assert.strictEqual(failed.state, 'failed');
  assert.strictEqual(failed.text, 'the output differs\n-1\n+2\n\nReproduce:\n  quorvelin-run a.ic\n');
  assert.strictEqual(ext.outcomeOf({ verdict: 'no-expectation', reasons: ['no expectation'] }).state, 'errored');
});
