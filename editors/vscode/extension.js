// Starts quorvelin-lsp for the intermediate code's files (language id
// quorvelin-ic): the command in the setting quorvelin.lspPath, or
// quorvelin-lsp from the PATH. Changing the setting restarts the server.
// Debugging (type quorvelin) runs `quorvelin-debug --dap`, from the setting
// quorvelin.debugPath or the PATH; the command quorvelin.debugFile debugs
// the file in the editor.
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

function debugCommand() {
  const path = vscode.workspace.getConfiguration('quorvelin').get('debugPath', '');
  return path && path.trim() ? path.trim() : 'quorvelin-debug';
}

// The adapter, read from the setting at every session start.
const adapterFactory = {
  createDebugAdapterDescriptor() {
    return new vscode.DebugAdapterExecutable(debugCommand(), ['--dap']);
  },
};

// F5 without a launch.json: the file in the editor.
const configurationProvider = {
  resolveDebugConfiguration(folder, config) {
    if (!config.type && !config.request && !config.name) {
      const editor = vscode.window.activeTextEditor;
      if (!editor || editor.document.languageId !== 'quorvelin-ic') return config;
      return { type: 'quorvelin', request: 'launch', name: 'Debug this .ic file', program: '${file}' };
    }
    if (!config.program) {
      vscode.window.showErrorMessage('quorvelin: the launch configuration names no program');
      return undefined;
    }
    return config;
  },
};

async function debugFile(uri) {
  const doc = uri ? undefined : vscode.window.activeTextEditor && vscode.window.activeTextEditor.document;
  const target = uri || (doc && doc.uri);
  if (!target) {
    vscode.window.showErrorMessage('quorvelin: open an .ic file to debug it');
    return false;
  }
  if (doc && doc.isDirty) await doc.save();
  const name = target.fsPath.split(/[\\/]/).pop();
  return vscode.debug.startDebugging(vscode.workspace.getWorkspaceFolder(target), {
    type: 'quorvelin',
    request: 'launch',
    name: `Debug ${name}`,
    program: target.fsPath,
  });
}

async function activate(context) {
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory('quorvelin', adapterFactory),
    vscode.debug.registerDebugConfigurationProvider('quorvelin', configurationProvider),
    vscode.commands.registerCommand('quorvelin.debugFile', debugFile),
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
