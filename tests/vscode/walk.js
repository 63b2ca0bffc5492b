// The user's path through the extension in a real VS Code (code-server) in
// Chromium, driven by playwright-core: each step waits for what a user
// would see, and a step that does not see it within its time fails with a
// screenshot.  run.sh sets the scene:
//   QV_URL      the editor's address, its workspace open
//   QV_WS       the workspace folder (a scratch copy of workspace/)
//   QV_DATA     the editor's user data (settings.json under User/)
//   QV_SHOTS    where screenshots of a failed step go
//   QV_CHROMIUM the browser
const { chromium } = require('playwright-core');
const fs = require('node:fs');
const path = require('node:path');

const env = (k) => process.env[k] || (() => { throw new Error(`${k} is not set`); })();
const ws = env('QV_WS');
const settingsFile = path.join(env('QV_DATA'), 'User', 'settings.json');
const shots = env('QV_SHOTS');
const started = Date.now();
let page;
let passed = 0;
let failed = 0;

function say(line) {
  console.log(`${((Date.now() - started) / 1000).toFixed(1).padStart(5)}s ${line}`);
}

async function step(name, fn) {
  try {
    await fn();
    passed++;
    say(`ok ${name}`);
  } catch (err) {
    failed++;
    const shot = path.join(shots, `${String(passed + failed).padStart(2, '0')}-${name.replace(/[^a-z0-9]+/gi, '-')}.png`);
    await page.screenshot({ path: shot }).catch(() => {});
    say(`FAILED ${name}: ${err.message.split('\n')[0]} (screenshot ${shot})`);
    throw err;
  }
}

async function seeText(re, ms = 15000, where = 'body') {
  try {
    await page.waitForFunction(
      // (Monaco's views write spaces as no-break spaces.)
      ([src, flags, sel]) => [...document.querySelectorAll(sel)].some((e) => new RegExp(src, flags).test(e.innerText.replace(/\u00a0/g, ' '))),
      [re.source, re.flags, where],
      { timeout: ms, polling: 100 },
    );
  } catch {
    const seen = await page.evaluate((sel) => [...document.querySelectorAll(sel)].map((e) => e.innerText).join('\n'), where);
    throw new Error(`did not see ${re} in ${where}; it shows: ${seen.replace(/\s+/g, ' ').slice(0, 600)}`);
  }
}

async function notSeeText(re, ms, where) {
  await page.waitForFunction(
    ([src, flags, sel]) => ![...document.querySelectorAll(sel)].some((e) => new RegExp(src, flags).test(e.innerText)),
    [re.source, re.flags, where],
    { timeout: ms, polling: 100 },
  );
}

// A command of the command palette, by its title.
async function command(title) {
  await page.keyboard.press('F1');
  const input = page.locator('.quick-input-widget input');
  await input.waitFor({ state: 'visible', timeout: 5000 });
  await input.fill(`>${title}`);
  await page.locator('.quick-input-list .monaco-list-row.focused', { hasText: title }).waitFor({ timeout: 5000 });
  await page.keyboard.press('Enter');
}

async function openFile(name) {
  await page.keyboard.press('Control+P');
  const input = page.locator('.quick-input-widget input');
  await input.waitFor({ state: 'visible', timeout: 5000 });
  await input.fill(name);
  // The first search waits for the editor's file search to start.
  await page.locator('.quick-input-list .monaco-list-row.focused', { hasText: name }).waitFor({ timeout: 30000 });
  await page.keyboard.press('Enter');
  await page.locator('.tab.active', { hasText: name }).waitFor({ timeout: 5000 });
  await page.locator('.editor-instance .monaco-editor .view-lines').first().click();
}

// The cursor on LINE (1-based), at the start of WORD in it when given.
async function goTo(line, word) {
  await page.keyboard.press('Control+P');
  const input = page.locator('.quick-input-widget input');
  await input.waitFor({ state: 'visible', timeout: 5000 });
  let col = 1;
  if (word) col = fs.readFileSync(path.join(ws, activeFile), 'utf8').split('\n')[line - 1].indexOf(word) + 1;
  await input.fill(`:${line}:${col}`);
  await page.keyboard.press('Enter');
  await seeText(new RegExp(`Ln ${line}, Col`), 5000, '.statusbar');
}
let activeFile = '';

async function statusLanguage() {
  return page.locator('#status\\.editor\\.mode').innerText();
}

// The gutter beside LINE, clicked where a breakpoint is set.
async function clickGutter(line) {
  const num = page.locator('.editor-instance .margin-view-overlays .line-numbers', { hasText: new RegExp(`^${line}$`) });
  const box = await num.first().boundingBox();
  const glyph = await page.locator('.editor-instance .margin-view-overlays').first().boundingBox();
  await page.mouse.click(glyph.x + 8, box.y + box.height / 2);
}

function writeSettings(change) {
  const s = JSON.parse(fs.readFileSync(settingsFile, 'utf8'));
  fs.writeFileSync(settingsFile, JSON.stringify({ ...s, ...change }, null, 2));
}

// The notification or dialog that says RE, closed after.
async function toldUser(re) {
  await seeText(re, 15000, '.notifications-toasts, .monaco-dialog-box');
  const dialog = page.locator('.monaco-dialog-box');
  if (await dialog.count()) {
    await dialog.locator('.monaco-button', { hasText: 'Cancel' }).click();
    await dialog.waitFor({ state: 'detached', timeout: 5000 });
  }
  await page.evaluate(() => document.querySelectorAll('.notifications-toasts .codicon-notifications-clear').forEach((b) => b.click()));
}

async function sessionOver() {
  await page.locator('.debug-toolbar').waitFor({ state: 'hidden', timeout: 15000 });
}

async function main() {
  const browser = await chromium.launch({ executablePath: env('QV_CHROMIUM'), args: ['--no-sandbox'], headless: true });
  try {
    page = await browser.newPage({ viewport: { width: 1400, height: 900 } });
    await page.goto(env('QV_URL'));
    await page.locator('.monaco-workbench').waitFor({ timeout: 60000 });
    await page.locator('.explorer-folders-view').waitFor({ timeout: 60000 });

    await step('open a file: the language is named in the status bar', async () => {
      activeFile = 'main.ic';
      await openFile('main.ic');
      await seeText(/Quorvelin intermediate code/, 15000, '.statusbar');
    });

    await step('a broken file: the Problems panel names its error', async () => {
      activeFile = 'broken.ic';
      await openFile('broken.ic');
      await page.keyboard.press('Control+Shift+M');
      await seeText(/unknown opcode 'pstrr'/, 20000, '.markers-panel');
    });

    await step('the quick fix applied: the problem goes', async () => {
      await goTo(7, 'pstrr');
      await page.keyboard.press('Control+.');
      await page.locator('.action-widget', { hasText: "Change to 'pstr'" }).waitFor({ timeout: 10000 });
      await page.keyboard.press('Enter');
      await seeText(/pstr\s+r0/, 5000, '.editor-instance .view-lines');
      await notSeeText(/unknown opcode/, 15000, '.markers-panel');
      await page.keyboard.press('Control+S');
    });

    await step('hover: the MIPS of a line', async () => {
      activeFile = 'main.ic';
      await openFile('main.ic');
      await goTo(9, 'r1');
      await page.keyboard.press('Control+K');
      await page.keyboard.press('Control+I');
      await seeText(/\b(li|addiu?|ori)\s[^\n]*\b21\b/, 10000, '.monaco-hover');
      await page.keyboard.press('Escape');
    });

    await step('F12: go to the definition in the other file', async () => {
      await goTo(11, 'Twice');
      await page.keyboard.press('F12');
      await page.locator('.tab.active', { hasText: 'twice.ic' }).waitFor({ timeout: 10000 });
      await seeText(/Ln 2, Col \d+/, 5000, '.statusbar');
    });

    await step('a breakpoint set in the gutter', async () => {
      activeFile = 'main.ic';
      await openFile('main.ic');
      await clickGutter(10);
      await page.locator('.editor-instance .codicon-debug-breakpoint').first().waitFor({ timeout: 5000 });
    });

    // F5 with no launch.json: the program of the file, which
    // quorvelin.project makes main.ic and twice.ic.
    await step('F5 without a launch.json: the stop at the breakpoint and the Call Stack', async () => {
      await page.keyboard.press('F5');
      await page.locator('.debug-toolbar').waitFor({ timeout: 20000 });
      await seeText(/Main\s+main\.ic\s+10/, 15000, '.debug-call-stack');
    });

    await step('step over, step in: the Variables of the procedure called', async () => {
      await page.keyboard.press('F10');
      await seeText(/Main\s+main\.ic\s+11/, 10000, '.debug-call-stack');
      await page.keyboard.press('F10');
      await seeText(/Main\s+main\.ic\s+12/, 10000, '.debug-call-stack');
      await page.keyboard.press('F11');
      await seeText(/Twice\s+twice\.ic\s+3\b.*\s+Main\s+main\.ic\s+12\b/s, 10000, '.debug-call-stack');
      await page.locator('.tab.active', { hasText: 'twice.ic' }).waitFor({ timeout: 5000 });
      await seeText(/var 0, -16\s*=\s*21\b/, 10000, '.debug-variables');
    });

    await step('step out', async () => {
      await page.keyboard.press('Shift+F11');
      await seeText(/Main\s+main\.ic\s+13/, 10000, '.debug-call-stack');
    });

    await step("the program's output in the Debug Console; continue to the end", async () => {
      await seeText(/start/, 10000, '.repl');
      await page.keyboard.press('F5');
      await seeText(/start\s+42/, 10000, '.repl');
      await sessionOver();
      // Its breakpoint off, for the runs below.
      await clickGutter(10);
    });

    await step('input typed in the Debug Console: answered with where it went', async () => {
      activeFile = 'echo.ic';
      await openFile('echo.ic');
      await page.keyboard.press('F5');
      await seeText(/the program waits for input/, 15000, '.repl');
      await page.locator('.repl-input-wrapper .monaco-editor').click();
      await page.keyboard.type('73');
      await page.keyboard.press('Enter');
      await seeText(/73\s+\(input to the program\)\s+73/, 10000, '.repl');
      await sessionOver();
    });

    await step('the Testing view: the tests listed, run, a failure with its diff', async () => {
      await command('Testing: Focus on Test Explorer View');
      await seeText(/good[\s\S]*wrong|wrong[\s\S]*good/, 15000, '.test-explorer');
      await command('Test: Run All Tests');
      await page.locator('.test-explorer .monaco-list-row', { hasText: 'good' }).locator('.codicon-testing-passed-icon').waitFor({ timeout: 15000 });
      await page.locator('.test-explorer .monaco-list-row', { hasText: 'wrong' }).locator('.codicon-testing-failed-icon').waitFor({ timeout: 5000 });
      // The Test Results panel opens on the failure: its message, the diff.
      await page.locator('.part.panel .monaco-list-row', { hasText: 'wrong' }).first().click();
      await seeText(/the output differs \(expected: \S*wrong\.out\)\s+---\s\S*wrong\.out\s+\+\+\+ actual output\s+@@ -1 \+1 @@\s+-8 \s+\+7 /, 10000, 'body');
    });

    await step('the Testing view: a test debugged', async () => {
      await command('Testing: Focus on Test Explorer View');
      const row = page.locator('.test-explorer .monaco-list-row', { hasText: 'good' });
      await row.hover();
      await row.locator('.action-label[class*="debug"]').first().click();
      await seeText(/\b6\s*$/, 15000, '.repl');
      await sessionOver();
    });

    // The failures a user can meet, each told to them.
    const launch = (configs) =>
      fs.writeFileSync(path.join(ws, '.vscode', 'launch.json'), JSON.stringify({ version: '0.2.0', configurations: configs }, null, 2));
    fs.mkdirSync(path.join(ws, '.vscode'), { recursive: true });
    const base = { type: 'quorvelin', request: 'launch' };
    launch([
      { ...base, name: 'No SPIM', program: ['main.ic', 'twice.ic'], spim: '/nonexistent/spim' },
      { ...base, name: 'No input file', program: ['main.ic', 'twice.ic'], stdinFile: 'nothere.in' },
      { ...base, name: 'No program', program: 'nothere.ic' },
      { ...base, name: 'Relative', program: ['main.ic', 'twice.ic'], stopOnEntry: true },
      { ...base, name: 'Undefined label', program: 'undefined.ic', noCheck: true },
    ]);
    // A configuration chosen in the Run and Debug view and started there.
    const startConfig = async (name) => {
      await page.keyboard.press('Control+Shift+D');
      const select = page.locator('.start-debug-action-item select');
      await select.waitFor({ state: 'attached', timeout: 10000 });
      await page.waitForFunction((n) => [...document.querySelectorAll('.start-debug-action-item select option')].some((o) => o.textContent === n), name, { timeout: 10000 });
      // The choice counts once the status bar names it: a choice made while
      // the last dialog goes away can be lost, and is made again.
      const chosen = new RegExp(`${name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')} \\(ws\\)`);
      for (let tries = 1; ; tries++) {
        // (Again, by way of another one: choosing the option the list shows
        // already changes nothing.)
        if (tries > 1) await select.selectOption({ label: name === 'Relative' ? 'No program' : 'Relative' }, { force: true });
        await select.selectOption({ label: name }, { force: true });
        try {
          await seeText(chosen, 3000, '.statusbar');
          break;
        } catch (e) {
          if (tries === 5) throw e;
        }
      }
      await page.locator('.start-debug-action-item .codicon-debug-start').click();
    };

    await step('SPIM missing: the launch failure is shown', async () => {
      await startConfig('No SPIM');
      await toldUser(/SPIM is not installed at \/nonexistent\/spim: install it/);
    });

    await step('a stdinFile that does not exist: shown', async () => {
      await startConfig('No input file');
      await toldUser(/cannot open the input file \(stdinFile\) .*nothere\.in/);
    });

    await step('a program that cannot be opened: shown', async () => {
      await startConfig('No program');
      await toldUser(/cannot open .*nothere\.ic/);
    });

    await step('a relative program: the workspace folder\'s', async () => {
      await startConfig('Relative');
      await seeText(/Main\s+main\.ic\s+\d+/, 15000, '.debug-call-stack');
      await page.keyboard.press('F5');
      await sessionOver();
    });

    await step('noCheck and an undefined label: one stop that says so, then the end', async () => {
      await startConfig('Undefined label');
      await seeText(/SPIM cannot run line 6 \('bra Nowhere'\)/, 15000, '.repl');
      await seeText(/Main\s+undefined\.ic\s+6\b/, 10000, '.debug-call-stack');
      await page.keyboard.press('F5');
      await sessionOver();
    });

    await step('a debug adapter that cannot be found: shown', async () => {
      writeSettings({ 'quorvelin.debugPath': '/nowhere/quorvelin-debug' });
      await page.waitForTimeout(1000);
      activeFile = 'main.ic';
      await openFile('main.ic');
      await command('Quorvelin: Run and debug this program');
      await toldUser(/"\/nowhere\/quorvelin-debug" does not exist.*quorvelin\.debugPath/);
    });

    await step('a language server that cannot be found: shown, once', async () => {
      // In the workspace's settings this time.
      fs.writeFileSync(path.join(ws, '.vscode', 'settings.json'), JSON.stringify({ 'quorvelin.lspPath': '/nowhere/quorvelin-lsp' }));
      await seeText(/"\/nowhere\/quorvelin-lsp" does not exist.*quorvelin\.lspPath/, 15000, '.notifications-toasts');
      const toasts = await page.locator('.notifications-toasts .notification-toast').allInnerTexts();
      if (toasts.length !== 1) throw new Error(`notifications: ${JSON.stringify(toasts)}`);
    });
  } finally {
    await browser.close();
  }
}

main().then(
  () => {
    console.log(`walk: ${passed} passed, ${failed} failed`);
  },
  (err) => {
    if (!failed) console.error(err);
    console.log(`walk: ${passed} passed, ${failed || 1} failed`);
    process.exit(1);
  },
);
