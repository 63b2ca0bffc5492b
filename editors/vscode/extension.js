// Starts quorvelin-lsp for the intermediate code's files (language id
// quorvelin-ic): the command in the setting quorvelin.lspPath, or
// quorvelin-lsp from the PATH. Changing the setting restarts the server.
// Debugging (type quorvelin) runs `quorvelin-debug --dap`, from the setting
// quorvelin.debugPath or the PATH; the command quorvelin.debugFile debugs
// the file in the editor (with the other files of its program, when the
// workspace's quorvelin.project lists it).
//
// Every failure reaches the user: a notification when a command cannot be
// found or started (with what to do), the Debug Console for the adapter's
// own messages, and the output channel "Quorvelin" for both logs.
const vscode = require('vscode');
const fs = require('fs');
const path = require('path');
const { execFile } = require('child_process');
const { LanguageClient } = require('vscode-languageclient/node');

let client;
let log;

function setting(key) {
  const value = vscode.workspace.getConfiguration('quorvelin').get(key, '');
  return value && value.trim() ? value.trim() : '';
}

// The executable a command names: a path as it is, a bare name on the
// extension host's PATH (which is not always the one of the user's shell:
// over SSH or WSL it comes from a login shell). '' when there is none.
function findCommand(command) {
  const runnable = (file) => {
    try {
      fs.accessSync(file, fs.constants.X_OK);
      return fs.statSync(file).isFile();
    } catch {
      return false;
    }
  };
  if (command.includes('/') || command.includes(path.sep)) return runnable(command) ? command : '';
  for (const dir of (process.env.PATH || '').split(path.delimiter)) {
    if (dir && runnable(path.join(dir, command))) return path.join(dir, command);
  }
  return '';
}

// What a failure says, whether it is an Error or, as the language client
// sometimes rejects with, a plain string.
function reason(err) {
  if (err instanceof Error) return err.message;
  if (typeof err === 'string' && err) return err;
  return err && err.message ? String(err.message) : String(err);
}

function notFound(command, what, settingName) {
  return command.includes('/')
    ? `quorvelin: ${what} "${command}" does not exist or cannot be run; install quorvelin or correct ${settingName}.`
    : `quorvelin: ${what} "${command}" is not on the PATH of VS Code's extension host; install quorvelin, or set ${settingName} to its full path.`;
}

// A notification with a button to the setting that mends it.
function complain(message, settingName) {
  log.appendLine(message);
  const open = 'Open Settings';
  Promise.resolve(vscode.window.showErrorMessage(message, open)).then((choice) => {
    if (choice === open) vscode.commands.executeCommand('workbench.action.openSettings', settingName);
  });
}

async function start() {
  const command = setting('lspPath') || 'quorvelin-lsp';
  if (!findCommand(command)) {
    complain(notFound(command, 'the language server', 'quorvelin.lspPath'), 'quorvelin.lspPath');
    return;
  }
  const c = new LanguageClient(
    'quorvelin',
    'quorvelin-lsp',
    { command, args: [] },
    { documentSelector: [{ language: 'quorvelin-ic' }], outputChannel: log },
  );
  // The client's own notification of a failed start would come second to
  // ours, which says what to do: its message goes to the log only.
  const error = c.error;
  c.error = (message, data) => error.call(c, message, data, false);
  try {
    await c.start();
    c.error = error;
    client = c;
  } catch (err) {
    complain(
      `quorvelin: cannot start the language server "${command}" (${reason(err)}); install quorvelin or set quorvelin.lspPath.`,
      'quorvelin.lspPath',
    );
    try {
      await c.dispose();
    } catch {
      // It never ran: nothing to stop.
    }
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
  return setting('debugPath') || 'quorvelin-debug';
}

// The adapter, read from the setting at every session start.
const adapterFactory = {
  createDebugAdapterDescriptor() {
    const command = debugCommand();
    if (!findCommand(command)) throw new Error(notFound(command, 'the debug adapter', 'quorvelin.debugPath'));
    log.appendLine(`starting the debug adapter: ${command} --dap`);
    return new vscode.DebugAdapterExecutable(command, ['--dap']);
  },
};

// The adapter's messages to the user and how it ended, in the log.
const trackerFactory = {
  createDebugAdapterTracker(session) {
    return {
      onDidSendMessage(m) {
        if (m.type === 'event' && m.event === 'output' && m.body && m.body.category === 'stderr')
          log.append(`[${session.name}] ${m.body.output}`);
        if (m.type === 'response' && !m.success) log.appendLine(`[${session.name}] ${m.command}: ${m.message}`);
      },
      onError(err) {
        log.appendLine(`[${session.name}] the debug adapter failed: ${reason(err)}`);
      },
      onExit(code, signal) {
        if (code || signal) log.appendLine(`[${session.name}] the debug adapter ended with ${signal || `status ${code}`}`);
      },
    };
  },
};

// The project file of a workspace folder: one file a line, relative to the
// folder or absolute, in the order they form the program; blank lines and
// lines that begin with "#" skipped (as quorvelin-lsp reads it). [] when
// there is none.
function projectFiles(root) {
  let text;
  try {
    text = fs.readFileSync(path.join(root, 'quorvelin.project'), 'utf8');
  } catch {
    return [];
  }
  const files = [];
  for (const raw of text.split('\n')) {
    const line = raw.replace(/[\r \t]+$/, '').replace(/^[ \t]+/, '');
    if (!line || line.startsWith('#')) continue;
    const file = path.normalize(path.isAbsolute(line) ? line : path.join(root, line));
    if (!files.includes(file)) files.push(file);
  }
  return files;
}

// The program a file belongs to: the project's files when the project
// lists it, else the file alone.
function programOf(file, folder) {
  const files = folder ? projectFiles(folder.uri.fsPath) : [];
  return files.includes(path.normalize(file)) ? files : file;
}

function folderOf(uri) {
  return uri && vscode.workspace.getWorkspaceFolder(uri);
}

const configurationProvider = {
  // F5 without a launch.json: the program of the file in the editor.
  resolveDebugConfiguration(folder, config) {
    if (!config.type && !config.request && !config.name) {
      const editor = vscode.window.activeTextEditor;
      if (!editor || editor.document.languageId !== 'quorvelin-ic') return config;
      const uri = editor.document.uri;
      return { type: 'quorvelin', request: 'launch', name: 'Debug this .ic file', program: programOf(uri.fsPath, folderOf(uri) || folder) };
    }
    if (!config.program) {
      vscode.window.showErrorMessage('quorvelin: the launch configuration names no program');
      return undefined;
    }
    return config;
  },
  // Relative paths are the workspace folder's (the adapter's own working
  // directory is the editor server's); and an adapter that cannot be found
  // is said before the session starts.
  resolveDebugConfigurationWithSubstitutedVariables(folder, config) {
    const command = debugCommand();
    if (!findCommand(command)) {
      complain(notFound(command, 'the debug adapter', 'quorvelin.debugPath'), 'quorvelin.debugPath');
      return undefined;
    }
    const base = folder ? folder.uri.fsPath : undefined;
    const absolute = (p) => (base && typeof p === 'string' && p && !path.isAbsolute(p) ? path.join(base, p) : p);
    const resolved = { ...config };
    resolved.program = Array.isArray(config.program) ? config.program.map(absolute) : absolute(config.program);
    if (config.stdinFile) resolved.stdinFile = absolute(config.stdinFile);
    return resolved;
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
  const name = path.basename(target.fsPath);
  const folder = folderOf(target);
  return vscode.debug.startDebugging(folder, {
    type: 'quorvelin',
    request: 'launch',
    name: `Debug ${name}`,
    program: programOf(target.fsPath, folder),
  });
}

// ---- The Testing view: the workspace's tests, run by quorvelin-test ----
//
// A test is a program (NAME.ic, or NAME.1.ic NAME.2.ic ...) with its
// expected output NAME.out beside it; quorvelin-test --json runs them and
// says how each went, one JSON object a line.

// The tests among FILES (paths of .ic files): {id, files} with id the path
// without the extension, files in their order.
function testsOf(files) {
  const tests = new Map();
  for (const file of files) {
    const m = /^(.*?)(?:\.(\d+))?\.ic$/.exec(file);
    if (!m || !fs.existsSync(`${m[1]}.out`)) continue;
    if (!tests.has(m[1])) tests.set(m[1], []);
    tests.get(m[1]).push({ file, n: m[2] ? Number(m[2]) : 0 });
  }
  return [...tests].map(([id, fs_]) => ({ id, files: fs_.sort((a, b) => a.n - b.n).map((f) => f.file) }));
}

// One line of quorvelin-test --json as the view shows it: passed, failed
// (with what differed, the diff and the commands that reproduce it) or
// errored (no expectation, a set-up failure).
function outcomeOf(result) {
  const ms = Math.round((result.seconds || 0) * 1000);
  const text = [...(result.reasons || []), result.diff || '', ...(result.messages || []), result.reproduce ? `Reproduce:\n${result.reproduce}` : '']
    .filter((t) => t)
    .join('\n');
  if (result.verdict === 'pass') return { state: 'passed', ms };
  return { state: result.verdict === 'fail' ? 'failed' : 'errored', ms, text: text || result.verdict };
}

function testCommand() {
  return setting('testPath') || 'quorvelin-test';
}

function createTests(context) {
  const ctrl = vscode.tests.createTestController('quorvelin', 'Quorvelin tests');
  context.subscriptions.push(ctrl);
  const byId = new Map();
  const discover = async () => {
    const uris = await vscode.workspace.findFiles('**/*.ic', '**/node_modules/**');
    const found = testsOf(uris.map((u) => u.fsPath));
    const items = found.map((t) => {
      const item = ctrl.createTestItem(t.id, path.basename(t.id), vscode.Uri.file(t.files[0]));
      const folder = folderOf(item.uri);
      if (folder) item.description = path.relative(folder.uri.fsPath, path.dirname(t.id)) || undefined;
      byId.set(t.id, t);
      return item;
    });
    ctrl.items.replace(items);
  };
  ctrl.resolveHandler = () => discover();
  ctrl.refreshHandler = () => discover();
  const watcher = vscode.workspace.createFileSystemWatcher('**/*.{ic,out}');
  for (const on of [watcher.onDidCreate, watcher.onDidDelete]) context.subscriptions.push(on(() => discover()));
  context.subscriptions.push(watcher);

  const wanted = (request) => {
    const list = [];
    if (request.include) request.include.forEach((i) => list.push(i));
    else ctrl.items.forEach((i) => list.push(i));
    return list.filter((i) => !(request.exclude || []).includes(i));
  };

  ctrl.createRunProfile('Run', vscode.TestRunProfileKind.Run, async (request, token) => {
    const run = ctrl.createTestRun(request);
    const items = wanted(request);
    const command = testCommand();
    if (!findCommand(command)) {
      const message = notFound(command, 'the test runner', 'quorvelin.testPath');
      for (const item of items) run.errored(item, new vscode.TestMessage(message));
      complain(message, 'quorvelin.testPath');
      run.end();
      return;
    }
    items.forEach((i) => run.started(i));
    const files = items.flatMap((i) => byId.get(i.id).files);
    const out = await new Promise((resolve) => {
      const child = execFile(command, ['--json', ...files], { maxBuffer: 64 << 20 }, (err, stdout, stderr) => {
        if (stderr) log.append(stderr);
        resolve(stdout);
      });
      token.onCancellationRequested(() => child.kill('SIGINT'));
    });
    const seen = new Set();
    for (const line of out.split('\n')) {
      let result;
      try {
        result = JSON.parse(line);
      } catch {
        continue;
      }
      const item = items.find((i) => byId.get(i.id).files[0] === (result.files || [])[0]);
      if (!item) continue;
      seen.add(item);
      const o = outcomeOf(result);
      if (o.state === 'passed') run.passed(item, o.ms);
      else run[o.state](item, new vscode.TestMessage(o.text), o.ms);
    }
    for (const item of items)
      if (!seen.has(item)) run.errored(item, new vscode.TestMessage(`quorvelin-test gave no result (see the output channel Quorvelin)`));
    run.end();
  }, true);

  // Debugging a test: its program with its input, in the debug adapter.
  ctrl.createRunProfile('Debug', vscode.TestRunProfileKind.Debug, async (request) => {
    for (const item of wanted(request)) {
      const t = byId.get(item.id);
      const config = { type: 'quorvelin', request: 'launch', name: `Debug test ${path.basename(t.id)}`, program: t.files };
      if (fs.existsSync(`${t.id}.in`)) config.stdinFile = `${t.id}.in`;
      await vscode.debug.startDebugging(folderOf(item.uri), config);
    }
  }, true);
  discover();
}

async function activate(context) {
  log = vscode.window.createOutputChannel('Quorvelin');
  context.subscriptions.push(
    log,
    vscode.debug.registerDebugAdapterDescriptorFactory('quorvelin', adapterFactory),
    vscode.debug.registerDebugAdapterTrackerFactory('quorvelin', trackerFactory),
    vscode.debug.registerDebugConfigurationProvider('quorvelin', configurationProvider),
    vscode.commands.registerCommand('quorvelin.debugFile', debugFile),
    vscode.workspace.onDidChangeConfiguration(async (e) => {
      if (e.affectsConfiguration('quorvelin.lspPath')) {
        log.appendLine(`quorvelin.lspPath is now "${setting('lspPath')}": the language server restarts`);
        try {
          await stop();
        } catch (err) {
          log.appendLine(`the language server did not stop cleanly: ${reason(err)}`);
        }
        await start();
      }
    }),
    { dispose: () => stop() },
  );
  createTests(context);
  await start();
}

function deactivate() {
  return stop();
}

module.exports = { activate, deactivate, projectFiles, testsOf, outcomeOf };
