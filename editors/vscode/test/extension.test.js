// The extension's code against stand-ins for VS Code and the language client,
// and its manifest against the files it names.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const Module = require('node:module');

const root = path.join(__dirname, '..');
const manifest = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8'));

// The stand-ins: the settings, the clients started, the messages shown, the
// debugger's registrations and the sessions started.
const world = {
  lspPath: '', debugPath: '', clients: [], errors: [], onConfig: null, failStart: false,
  factories: {}, providers: {}, commands: {}, sessions: [], editor: undefined,
};
const stubs = {
  vscode: {
    workspace: {
      getConfiguration: (section) => ({
        get: (key, dflt) => (section !== 'quorvelin' ? dflt : key === 'lspPath' ? world.lspPath : key === 'debugPath' ? world.debugPath : dflt),
      }),
      onDidChangeConfiguration: (f) => { world.onConfig = f; return { dispose() {} }; },
      getWorkspaceFolder: () => ({ name: 'ws' }),
    },
    window: {
      showErrorMessage: (m) => world.errors.push(m),
      get activeTextEditor() { return world.editor; },
    },
    debug: {
      registerDebugAdapterDescriptorFactory: (type, f) => { world.factories[type] = f; return { dispose() {} }; },
      registerDebugConfigurationProvider: (type, p) => { world.providers[type] = p; return { dispose() {} }; },
      startDebugging: async (folder, config) => { world.sessions.push({ folder, config }); return true; },
    },
    commands: { registerCommand: (id, f) => { world.commands[id] = f; return { dispose() {} }; } },
    DebugAdapterExecutable: class { constructor(command, args) { Object.assign(this, { command, args }); } },
  },
  'vscode-languageclient/node': {
    LanguageClient: class {
      constructor(id, name, server, options) {
        Object.assign(this, { id, server, options, running: false });
        world.clients.push(this);
      }
      async start() { if (world.failStart) throw new Error('spawn ENOENT'); this.running = true; }
      async stop() { this.running = false; }
    },
  },
};
const load = Module._load;
Module._load = (request, ...rest) => (request in stubs ? stubs[request] : load(request, ...rest));
const ext = require(path.join(root, manifest.main));

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

test('the server: from the PATH, from the setting, restarted when it changes, a failure reported', async () => {
  const lang = manifest.contributes.languages[0].id;
  const subs = [];
  await ext.activate({ subscriptions: subs });
  let c = world.clients.at(-1);
  assert.strictEqual(c.server.command, 'quorvelin-lsp');
  assert.deepStrictEqual(c.options.documentSelector, [{ language: lang }]);
  assert.ok(c.running);

  world.lspPath = ' /opt/qv/bin/quorvelin-lsp ';
  await world.onConfig({ affectsConfiguration: (s) => s === 'quorvelin.lspPath' });
  assert.ok(!c.running, 'the old server stopped');
  c = world.clients.at(-1);
  assert.strictEqual(c.server.command, '/opt/qv/bin/quorvelin-lsp');
  assert.ok(c.running);
  await world.onConfig({ affectsConfiguration: () => false });
  assert.strictEqual(world.clients.at(-1), c, 'other settings leave it alone');

  world.failStart = true;
  world.lspPath = '/nowhere/quorvelin-lsp';
  await world.onConfig({ affectsConfiguration: () => true });
  assert.match(world.errors[0], /\/nowhere\/quorvelin-lsp.*quorvelin\.lspPath/);
  await ext.deactivate();
  assert.ok(!c.running);
});

test('the debugger: its contribution agrees with the language, the adapter from the PATH or the setting', async () => {
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
  world.debugPath = '';
  assert.deepStrictEqual({ ...factory.createDebugAdapterDescriptor({}) }, { command: 'quorvelin-debug', args: ['--dap'] });
  world.debugPath = ' /opt/qv/bin/quorvelin-debug ';
  assert.strictEqual(factory.createDebugAdapterDescriptor({}).command, '/opt/qv/bin/quorvelin-debug');
  await ext.deactivate();
});

test('the debugger: F5 without a launch.json and "Run and debug this program" debug the file in the editor', async () => {
  await ext.activate({ subscriptions: [] });
  const provider = world.providers.quorvelin;
  world.editor = { document: { languageId: 'quorvelin-ic', isDirty: true, uri: { fsPath: '/w/prog.ic' }, save: async () => { world.editor.document.isDirty = false; } } };
  assert.deepStrictEqual(provider.resolveDebugConfiguration(undefined, {}), {
    type: 'quorvelin', request: 'launch', name: 'Debug this .ic file', program: '${file}',
  });
  assert.strictEqual(provider.resolveDebugConfiguration(undefined, { type: 'quorvelin', request: 'launch', name: 'x' }), undefined);
  assert.match(world.errors.at(-1), /names no program/);

  assert.ok(await world.commands['quorvelin.debugFile']());
  assert.ok(!world.editor.document.isDirty, 'the file is saved first');
  assert.deepStrictEqual(world.sessions.at(-1).config, { type: 'quorvelin', request: 'launch', name: 'Debug prog.ic', program: '/w/prog.ic' });
  world.editor = undefined;
  assert.strictEqual(await world.commands['quorvelin.debugFile'](), false);
  assert.match(world.errors.at(-1), /open an \.ic file/);
  await ext.deactivate();
});
