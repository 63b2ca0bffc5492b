// Starts quorvelin-lsp for the intermediate code's files (language id
// quorvelin-ic): the command in the setting quorvelin.lspPath, or
// quorvelin-lsp from the PATH. Changing the setting restarts the server.
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function serverCommand() {
  const path = vscode.workspace.getConfiguration('quorvelin').get('lspPath', '');
  return path && path.trim() ? path.trim() : 'quorvelin-lsp';
}

async function start() {
  const command = serverCommand();
  client = new LanguageClient(
    'quorvelin',
    'quorvelin-lsp',
    { command, args: [] },
    { documentSelector: [{ language: 'quorvelin-ic' }] },
  );
  try {
    await client.start();
  } catch (err) {
    client = undefined;
    vscode.window.showErrorMessage(
      `quorvelin: cannot start the language server "${command}" (${err.message}); ` +
        'install quorvelin or set quorvelin.lspPath.',
    );
  }
}

async function stop() {
  if (client) {
    const c = client;
    client = undefined;
    await c.stop();
  }
}

async function activate(context) {
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration(async (e) => {
      if (e.affectsConfiguration('quorvelin.lspPath')) {
        await stop();
        await start();
      }
    }),
    { dispose: () => stop() },
  );
  await start();
}

function deactivate() {
  return stop();
}

module.exports = { activate, deactivate };
