// The extension's code against stand-ins for VS Code and the language client,
// and its manifest against the files it names.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const Module = require('node:module');

const root = path.join(__dirname, '..');
const manifest = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8'));

// The stand-ins: a setting, the clients started, the messages shown.
const world = { lspPath: '', clients: [], errors: [], onConfig: null, failStart: false };
const stubs = {
  vscode: {
    workspace: {
      getConfiguration: (section) => ({ get: (key, dflt) => (section === 'quorvelin' && key === 'lspPath' ? world.lspPath : dflt) }),
      onDidChangeConfiguration: (f) => { world.onConfig = f; return { dispose() {} }; },
    },
    window: { showErrorMessage: (m) => world.errors.push(m) },
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
