// The administration page in headless Chromium, over lighttpd + svn.cgi +
// svnserve (scripts/serve on a sandbox package directory), checked with
// the real svn client.  Run by ctest with SOURCE_DIR, SVN_CGI, SANDBOX_DIR
// and SHOTS_DIR set.

import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { chromium } from 'playwright-core';

const { SOURCE_DIR, SVN_CGI, SVN_ADMIN, SANDBOX_DIR, SHOTS_DIR } = process.env;
const PASSWORD = 'page test pw';
let web, svnPort, server, browser, page;
const problems = [];

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function waitForPort(port) {
  for (let i = 0; i < 200; i++) {
    const open = await new Promise((resolve) => {
      const c = net.connect(port, '127.0.0.1', () => { c.end(); resolve(true); });
      c.on('error', () => resolve(false));
    });
    if (open) return;
    await new Promise((r) => setTimeout(r, 50));
  }
  throw new Error(`port ${port} never opened`);
}

// A request as another client would send it (same origin, authenticated).
async function post(params) {
  const response = await fetch(`${web}/svn.cgi`, {
    method: 'POST',
    headers: { Authorization: `Basic ${Buffer.from(`admin:${PASSWORD}`).toString('base64')}` },
    body: new URLSearchParams(params),
  });
  return response.json();
}

function svnRun(args, user) {
  const auth = user ? ['--username', user[0], '--password', user[1]] : [];
  return spawnSync('svn', [...args, '--non-interactive', '--no-auth-cache',
    '--config-dir', path.join(SANDBOX_DIR, 'svnconfig'), ...auth], { env: { ...process.env, LC_ALL: 'C.UTF-8' } });
}

const svn = (args, user) => svnRun(args, user).status === 0;

const url = (name) => `svn://127.0.0.1:${svnPort}/${name}`;

before(async () => {
  fs.rmSync(SANDBOX_DIR, { recursive: true, force: true });
  for (const dir of ['repo', 'bin', 'ui']) fs.mkdirSync(path.join(SANDBOX_DIR, dir), { recursive: true });
  const svnadmin = spawnSync('sh', ['-c', 'command -v svnadmin']).stdout.toString().trim();
  fs.symlinkSync(svnadmin, path.join(SANDBOX_DIR, 'bin/svnadmin'));
  for (const [from, to] of [[SVN_CGI, 'svn.cgi'], [SVN_ADMIN, 'svn-admin']]) {
    fs.copyFileSync(from, path.join(SANDBOX_DIR, 'ui', to));
    fs.chmodSync(path.join(SANDBOX_DIR, 'ui', to), 0o755);
  }
  for (const f of fs.readdirSync(path.join(SOURCE_DIR, 'ui/web'))) {
    fs.copyFileSync(path.join(SOURCE_DIR, 'ui/web', f), path.join(SANDBOX_DIR, 'ui', f));
  }
  fs.mkdirSync(SHOTS_DIR, { recursive: true });

  const port = await freePort();
  svnPort = await freePort();
  web = `http://127.0.0.1:${port}`;
  server = spawn('bash', [path.join(SOURCE_DIR, 'scripts/serve'), '--package-dir', SANDBOX_DIR,
    '--port', String(port), '--svn-port', String(svnPort)],
  { env: { ...process.env, SVN_ADMIN_PASSWORD: PASSWORD }, detached: true, stdio: 'ignore' });
  await waitForPort(port);
  await waitForPort(svnPort);

  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const context = await browser.newContext({
    baseURL: web,
    httpCredentials: { username: 'admin', password: PASSWORD },
    viewport: { width: 1100, height: 760 },
  });
  page = await context.newPage();
  page.setDefaultTimeout(10000);
  // Anything the page's policy blocked, or any script error, fails the run.
  page.on('console', (m) => {
    if (m.type() === 'error' && !m.location().url.endsWith('/favicon.ico')) {
      problems.push(`${m.text()} ${m.location().url}`);
    }
  });
  page.on('pageerror', (e) => problems.push(String(e)));
});

after(async () => {
  if (browser) await browser.close();
  if (server) process.kill(-server.pid, 'SIGTERM');
});

test('an empty root says so', async () => {
  await page.goto('/');
  await page.getByText('There are no repositories yet').waitFor();
  assert.equal(await page.locator('#repos').isVisible(), false);
});

test('create a repository with two accounts', async () => {
  await page.getByRole('button', { name: 'New repository' }).click();
  const dialog = page.getByRole('dialog', { name: 'New repository' });
  await dialog.getByLabel('Name', { exact: true }).fill('alpha');
  await dialog.getByLabel('Realm').fill('Alpha team');
  await dialog.getByLabel('None').check();
  for (const [account, password] of [['alice', 'pw-a'], ['bob', 'pw-b']]) {
    await dialog.getByRole('button', { name: 'Add account' }).click();
    await dialog.getByLabel('Account', { exact: true }).last().fill(account);
    await dialog.getByLabel('Password', { exact: true }).last().fill(password);
  }
  assert.equal(await dialog.getByLabel(/Standard layout/).isChecked(), true);  // the default
  const secret = dialog.getByLabel('Password', { exact: true }).first();
  assert.equal(await secret.getAttribute('type'), 'password');
  await dialog.getByRole('button', { name: 'Show' }).first().click();
  assert.equal(await secret.getAttribute('type'), 'text');
  await dialog.getByRole('button', { name: 'Create' }).click();
  await page.getByText('Repository “alpha” created.').waitFor();
  const row = page.getByRole('row', { name: /alpha/ });
  await row.waitFor();
  assert.match(await row.textContent(), new RegExp(`Alpha team1svn://127\\.0\\.0\\.1:${svnPort}/alpha`));
  assert.equal(svnRun(['ls', url('alpha')], ['alice', 'pw-a']).stdout.toString(), 'branches/\ntags/\ntrunk/\n');
  assert.ok(!svn(['ls', url('alpha')]));
});

test('without the standard layout a repository starts empty', async () => {
  await page.getByRole('button', { name: 'New repository' }).click();
  const dialog = page.getByRole('dialog', { name: 'New repository' });
  await dialog.getByLabel('Name', { exact: true }).fill('bare');
  await dialog.getByLabel(/Standard layout/).uncheck();
  await dialog.getByRole('button', { name: 'Create' }).click();
  await page.getByText('Repository “bare” created.').waitFor();
  assert.match(await page.getByRole('row', { name: /bare/ }).textContent(), /^bare.*0svn:/);
  await post({ action: 'remove', name: 'bare' });
});

test('errors are named in words', async () => {
  await page.getByRole('button', { name: 'New repository' }).click();
  const dialog = page.getByRole('dialog');
  await dialog.getByLabel('Name', { exact: true }).fill('alpha');
  await dialog.getByRole('button', { name: 'Create' }).click();
  await dialog.getByText('A repository named “alpha” already exists.').waitFor();
  await dialog.getByRole('button', { name: 'Cancel' }).click();
});

test('page through 60 more repositories, and find one by search', async () => {
  for (let i = 0; i < 60; i++) {
    const answer = await post({ action: 'add', name: `bulk-${String(i).padStart(2, '0')}`,
      realm: `Bulk ${i}`, anon: 'read', accounts: '[]' });
    assert.equal(answer.success, true);
  }
  await page.goto('/');
  await page.getByText('1–20 of 61').waitFor();
  const names = [];
  for (const range of ['1–20 of 61', '21–40 of 61', '41–60 of 61', '61–61 of 61']) {
    await page.getByText(range).waitFor();
    names.push(...await page.locator('#repos tbody td.name').allTextContents());
    if (range !== '61–61 of 61') await page.getByRole('button', { name: 'Next' }).click();
  }
  assert.equal(new Set(names).size, 61);
  assert.deepEqual(names, [...names].sort());  // in name order, across pages
  assert.equal(await page.getByRole('button', { name: 'Next' }).isDisabled(), true);

  await page.getByLabel('Find by name').fill('alph');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.locator('#repos tbody tr').first().filter({ hasText: 'alpha' }).waitFor();
  assert.equal(await page.locator('#repos tbody tr').count(), 1);
  await page.screenshot({ path: path.join(SHOTS_DIR, 'table.png') });
  await page.getByRole('button', { name: 'Show all' }).click();
  await page.getByText('1–20 of 61').waitFor();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'table-full.png') });
});

test('edit access and accounts, then use them with svn', async () => {
  await page.getByLabel('Find by name').fill('alpha');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('button', { name: 'Edit alpha' }).click();
  const dialog = page.getByRole('dialog', { name: 'Edit “alpha”' });
  assert.equal(await dialog.getByLabel('Realm').inputValue(), 'Alpha team');
  assert.equal(await dialog.getByLabel('None').isChecked(), true);
  assert.equal(await dialog.getByLabel('Account', { exact: true }).count(), 2);
  assert.equal(await dialog.getByLabel(/Standard layout/).isVisible(), false);
  const facts = dialog.getByRole('region', { name: 'About this repository' });
  assert.match((await facts.textContent()).replace(/\s+/g, ''),
    /Revision1Lastchange.*byadminSize\d+(\.\d)?KiBUUID[0-9a-f-]{36}/);
  const checkout = dialog.getByLabel('Check out');
  assert.equal(await checkout.inputValue(), `svn checkout ${url('alpha')}`);
  await dialog.getByRole('button', { name: 'Copy' }).click();
  await dialog.getByRole('button', { name: 'Copied' }).waitFor();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'edit.png') });

  await dialog.getByLabel('Read', { exact: true }).check();
  await dialog.getByRole('button', { name: 'Remove account 2' }).click();   // bob
  await dialog.getByLabel('Password', { exact: true }).first().fill('pw-a2');
  await dialog.getByRole('button', { name: 'Add account' }).click();
  await dialog.getByLabel('Account', { exact: true }).last().fill('carol');
  await dialog.getByLabel('Password', { exact: true }).last().fill('pw-c');
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “alpha” saved.').waitFor();

  const shown = await post({ action: 'show', name: 'alpha' });
  assert.deepEqual([shown.data.name, shown.data.realm, shown.data.anon], ['alpha', 'Alpha team', 'read']);
  assert.ok(svn(['ls', url('alpha')]));                                   // anonymous read
  assert.ok(svn(['mkdir', '-m', 'c', `${url('alpha')}/carol`], ['carol', 'pw-c']));
  assert.ok(!svn(['mkdir', '-m', 'b', `${url('alpha')}/bob`], ['bob', 'pw-b']));
  assert.ok(!svn(['mkdir', '-m', 'a', `${url('alpha')}/old`], ['alice', 'pw-a']));
  assert.ok(svn(['mkdir', '-m', 'a', `${url('alpha')}/alice`], ['alice', 'pw-a2']));
});

test('remove after a confirmation that names the repository', async () => {
  await page.getByRole('button', { name: 'Remove alpha' }).click();
  const dialog = page.getByRole('dialog', { name: 'Remove “alpha”?' });
  await dialog.getByText('The repository “alpha” and its whole history').waitFor();
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  assert.ok(svn(['ls', url('alpha')]));
  await page.getByRole('button', { name: 'Remove alpha' }).click();
  await page.getByRole('dialog').getByRole('button', { name: 'Remove' }).click();
  await page.getByText('Repository “alpha” removed.').waitFor();
  await page.getByText('No repository has “alpha” in its name.').waitFor();
  assert.ok(!svn(['ls', url('alpha')]));
});

test('keyboard use and a narrow screen', async () => {
  await page.goto('/');
  await page.getByText('1–20 of 60').waitFor();
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.textContent), 'New repository');
  await page.keyboard.press('Enter');
  await page.getByRole('dialog', { name: 'New repository' }).waitFor();
  assert.equal(await page.evaluate(() => document.activeElement.id), 'f-name');
  await page.keyboard.press('Escape');
  assert.equal(await page.getByRole('dialog').count(), 0);

  await page.setViewportSize({ width: 375, height: 740 });
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 375));
  await page.screenshot({ path: path.join(SHOTS_DIR, 'narrow.png') });
});

// Opens the editor of one repository found by search.
async function edit(name) {
  await page.getByLabel('Find by name').fill(name);
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('button', { name: `Edit ${name}` }).click();
  return page.getByRole('dialog', { name: `Edit “${name}”` });
}

test('access is shown as the server applies it', async () => {
  await page.setViewportSize({ width: 1100, height: 760 });
  await page.goto('/');
  for (const [name, line] of [['dflt', '# anon-access = read'], ['odd', 'anon-access = READ']]) {
    assert.equal((await post({ action: 'add', name, anon: 'none', accounts: '[]' })).success, true);
    fs.writeFileSync(path.join(SANDBOX_DIR, 'repo', name, 'conf/svnserve.conf'), `[general]\n${line}\n`);
  }
  let dialog = await edit('dflt');
  assert.equal(await dialog.getByLabel('Read (server default)').isChecked(), true);
  await dialog.getByText('leaves this to the server, which lets anyone read').waitFor();
  assert.ok(svn(['ls', url('dflt')]));
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  dialog = await edit('odd');
  assert.equal(await dialog.getByLabel('None').isChecked(), true);
  await dialog.getByText('The settings say “READ”, which the server takes as none.').waitFor();
  assert.ok(!svn(['ls', url('odd')]));
  await dialog.getByRole('button', { name: 'Cancel' }).click();
});

test('what the server would refuse is refused in words before sending', async () => {
  await page.getByRole('button', { name: 'New repository' }).click();
  const dialog = page.getByRole('dialog', { name: 'New repository' });
  const name = dialog.getByLabel('Name', { exact: true });
  const cases = [
    ['a/b', [], 'A repository name is one folder name: no “/” or “..”, and not “.”.'],
    ['..', [], 'A repository name is one folder name: no “/” or “..”, and not “.”.'],
    ['words', [['bob', '']], 'The account “bob” needs a password.'],
    ['words', [['bob', ' pw']], 'The password of “bob” may not start or end with a blank.'],
    ['words', [[' bob', 'pw']], 'The account name “ bob” may not start or end with a blank.'],
    ['words', [['bob', 'pw'], ['Bob', 'pw']], 'The account “Bob” is listed twice'],
    ['words', [], 'The realm may not hold “%(”.', 'Team %(x)s'],
    ['words ', [], 'A repository name may not start or end with a blank (here “words␣”).'],
    ['\u00a0words', [], 'A repository name may not start or end with a blank (here “⟨U+00A0⟩words”).'],
    ['wo\u200brds', [], 'A repository name may not hold characters that cannot be seen (here “wo⟨U+200B⟩rds”).'],
  ];
  for (const [repo, accounts, words, realm = ''] of cases) {
    await name.fill(repo);
    await dialog.getByLabel('Realm').fill(realm);
    const removers = dialog.getByRole('button', { name: /^Remove account/ });
    while (await removers.count() > 0) await removers.first().click();
    for (const [account, password] of accounts) {
      await dialog.getByRole('button', { name: 'Add account' }).click();
      await dialog.getByLabel('Account', { exact: true }).last().fill(account);
      await dialog.getByLabel('Password', { exact: true }).last().fill(password);
    }
    await dialog.getByRole('button', { name: 'Create' }).click();
    await dialog.getByText(words).waitFor();
  }
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  for (const made of fs.readdirSync(path.join(SANDBOX_DIR, 'repo'))) assert.ok(!made.includes('words'), made);
});

test('a stored realm with markup runs nowhere', async () => {
  const markup = '<img src=x onerror="document.title=\'pwned\'"><script>document.title=\'pwned\'</script>';
  assert.equal((await post({ action: 'add', name: 'xss', realm: markup, anon: 'none', accounts: '[]' })).success, true);
  // The endpoint itself, opened in a tab as a link from anywhere would.
  const tab = await page.context().newPage();
  const response = await tab.goto('/svn.cgi?action=load&limit=100');
  assert.match(response.headers()['content-security-policy'], /default-src 'none'/);
  assert.equal(response.headers()['x-content-type-options'], 'nosniff');
  assert.ok((await response.text()).includes('\\u003cimg'));
  await tab.waitForTimeout(300);
  assert.notEqual(await tab.title(), 'pwned');
  assert.equal(await tab.locator('img, script').count(), 0);
  await tab.close();
  // The page shows it as text.
  await page.goto('/');
  await page.getByLabel('Find by name').fill('xss');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('cell', { name: markup }).waitFor();
  assert.notEqual(await page.title(), 'pwned');
  assert.equal(await page.locator('#repos img').count(), 0);
});

test('the page works when opened through an address with credentials', async () => {
  const context = await browser.newContext();
  const tab = await context.newPage();
  const address = new URL(web);
  address.username = 'admin';
  address.password = PASSWORD;
  const response = await tab.goto(address.href);
  assert.match(response.headers()['content-security-policy'], /script-src 'self'/);
  await tab.getByText(/of 6\d/).waitFor();
  await context.close();
});

test('access rules: a group may write the trunk, everyone else reads', async () => {
  const accounts = JSON.stringify([{ account: 'Alice', password: 'pw-a' }, { account: 'bob', password: 'pw-b' }]);
  assert.equal((await post({ action: 'add', name: 'ruled', anon: 'none', accounts })).success, true);
  assert.ok(svn(['mkdir', '-m', 't', `${url('ruled')}/trunk`], ['Alice', 'pw-a']));
  await page.goto('/');
  const dialog = await edit('ruled');
  await dialog.getByRole('button', { name: 'Add group' }).click();
  await dialog.getByLabel('Group', { exact: true }).fill('devs');
  await dialog.getByLabel('Group', { exact: true }).press('Tab');
  await dialog.locator('.members').getByLabel('Alice').check();
  await dialog.getByRole('button', { name: 'Add rule' }).click();
  await dialog.getByLabel('Path', { exact: true }).last().fill('trunk');
  await dialog.getByRole('button', { name: 'Save access rules' }).click();
  await dialog.getByText('The path “trunk” must start with “/”').waitFor();
  await dialog.getByLabel('Path', { exact: true }).last().fill('/');
  await dialog.getByLabel('Who', { exact: true }).last().selectOption('*');
  await dialog.getByLabel('Access', { exact: true }).last().selectOption('r');
  await dialog.getByRole('button', { name: 'Add rule' }).click();
  await dialog.getByLabel('Path', { exact: true }).last().fill('/trunk');
  await dialog.getByLabel('Who', { exact: true }).last().selectOption('@devs');
  await dialog.getByLabel('Access', { exact: true }).last().selectOption('rw');
  await dialog.getByRole('button', { name: 'Save access rules' }).click();
  await page.getByText('Access rules of “ruled” saved.').waitFor();
  const trunk = dialog.locator('#effective tbody tr', { hasText: '/trunk' });
  assert.deepEqual(await trunk.locator('td').allTextContents(), ['/trunk', 'Read and write', 'Read', 'No access']);
  await page.screenshot({ path: path.join(SHOTS_DIR, 'access.png'), fullPage: true });
  assert.ok(svn(['mkdir', '-m', 'a', `${url('ruled')}/trunk/a`], ['Alice', 'pw-a']));
  assert.ok(!svn(['mkdir', '-m', 'b', `${url('ruled')}/trunk/b`], ['bob', 'pw-b']));
  assert.ok(svn(['ls', `${url('ruled')}/trunk`], ['bob', 'pw-b']));
  await dialog.getByRole('button', { name: 'Cancel' }).click();
});

test('names that look alike are shown apart, and each is edited and removed as itself', async () => {
  const names = ['proj', 'proj ', 'proj\u00a0', '\ufeffproj'];
  const files = () => names.map((name) => ['svnserve.conf', 'passwd']
    .map((f) => fs.readFileSync(path.join(SANDBOX_DIR, 'repo', name, 'conf', f), 'utf8')));
  for (const [i, name] of names.entries()) {
    const accounts = JSON.stringify([{ account: `pat${i}`, password: `pw-${i}` }]);
    assert.equal((await post({ action: 'add', name, realm: `Team ${i}`, anon: 'none', accounts })).success, true);
  }
  const before = files();
  await page.goto('/');
  await page.getByLabel('Find by name').fill('proj');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  // The search's answer, not the first page's that may come after it.
  await page.waitForFunction(() => document.querySelectorAll('#repos tbody tr').length === 4);
  assert.deepEqual(await page.locator('#repos tbody td.name').allInnerTexts(),
    ['proj', 'proj␣', 'proj⟨U+00A0⟩', '⟨U+FEFF⟩proj']);
  await page.screenshot({ path: path.join(SHOTS_DIR, 'names.png') });

  await page.getByRole('button', { name: 'Edit proj␣' }).click();
  const dialog = page.getByRole('dialog', { name: 'Edit “proj␣”' });
  assert.equal(await dialog.getByLabel('Check out').inputValue(), `svn checkout ${url('proj%20')}`);
  await dialog.getByLabel('Realm').fill('Changed');
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “proj␣” saved.').waitFor();
  const after = files();
  assert.deepEqual([after[0], after[2], after[3]], [before[0], before[2], before[3]]);
  assert.deepEqual([after[1][1], (await post({ action: 'show', name: 'proj ' })).data.realm], [before[1][1], 'Changed']);

  await page.getByRole('button', { name: 'Remove proj⟨U+00A0⟩' }).click();
  await page.getByRole('dialog', { name: 'Remove “proj⟨U+00A0⟩”?' }).getByRole('button', { name: 'Remove' }).click();
  await page.getByText('Repository “proj⟨U+00A0⟩” removed.').waitFor();
  assert.deepEqual(fs.readdirSync(path.join(SANDBOX_DIR, 'repo')).filter((n) => n.includes('proj')).sort(),
    ['proj', 'proj ', '\ufeffproj']);
});

test('a rule for an account with letters beyond A–Z binds as svnserve folds the login', async () => {
  // Two accounts to svnserve, which folds A–Z only.
  const accounts = JSON.stringify([{ account: 'ÉRIC', password: 'pw-e' }, { account: 'éric', password: 'pw-f' }]);
  assert.equal((await post({ action: 'add', name: 'accents', anon: 'none', accounts })).success, true);
  assert.ok(svn(['mkdir', '-m', 's', `${url('accents')}/secret`], ['ÉRIC', 'pw-e']));
  await page.goto('/');
  const dialog = await edit('accents');
  for (const [where, who, access] of [['/', 'Every account', 'Read and write'], ['/secret', 'ÉRIC', 'No access']]) {
    await dialog.getByRole('button', { name: 'Add rule' }).click();
    await dialog.getByLabel('Path', { exact: true }).last().fill(where);
    await dialog.getByLabel('Who', { exact: true }).last().selectOption({ label: who });
    await dialog.getByLabel('Access', { exact: true }).last().selectOption({ label: access });
  }
  await dialog.getByRole('button', { name: 'Save access rules' }).click();
  await page.getByText('Access rules of “accents” saved.').waitFor();
  assert.ok(!svn(['ls', `${url('accents')}/secret`], ['ÉRIC', 'pw-e']));
  assert.ok(svn(['ls', url('accents')], ['ÉRIC', 'pw-e']));
  assert.ok(svn(['ls', `${url('accents')}/secret`], ['éric', 'pw-f']));
  assert.match(fs.readFileSync(path.join(SANDBOX_DIR, 'repo/accents/conf/authz'), 'utf8'), /^\[\/secret\]\nÉric =/m);
  const secret = dialog.locator('#effective tbody tr', { hasText: '/secret' });
  assert.deepEqual(await secret.locator('td').allTextContents(), ['/secret', 'No access', 'Read and write', 'No access']);
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “accents” saved.').waitFor();
});

test('the history says who changed what, in words, filtered and a page at a time', async () => {
  const accounts = JSON.stringify([{ account: 'Alice', password: 'pw-a9' }]);
  assert.equal((await post({ action: 'edit', name: 'ruled', anon: 'read', accounts })).success, true);
  assert.equal((await post({ action: 'edit', name: 'ghost', anon: 'read', accounts })).success, false);
  await page.goto('/');
  await page.getByRole('button', { name: 'History' }).click();
  const rows = page.locator('#history tbody tr');
  await rows.first().waitFor();
  const cells = async (row) => (await row.locator('td').allInnerTexts()).slice(1).map((t) => t.trim());
  assert.deepEqual(await cells(rows.nth(0)),
    ['admin from 127.0.0.1', 'Edit failed: no such repository', 'ghost', 'nothing changed']);
  assert.deepEqual(await cells(rows.nth(1)), ['admin from 127.0.0.1', 'Edited', 'ruled',
    'Anonymous access: no access → read\nAccounts removed: bob\nPassword changed: Alice']);
  const range = page.locator('#history-range');
  const total = Number((await range.textContent()).match(/^1–20 of (\d+)$/)[1]);
  assert.ok(total > 70, `${total}`);  // every change of the tests before
  await page.getByRole('button', { name: 'Next' }).click();
  await page.getByText(`21–40 of ${total}`).waitFor();

  await page.getByLabel('Repository', { exact: true }).fill('ruled');
  await page.getByRole('button', { name: 'Filter' }).click();
  await page.getByText('1–3 of 3').waitFor();
  assert.deepEqual(await page.locator('#history tbody td.name').allInnerTexts(), ['ruled', 'ruled', 'ruled']);
  const rules = await cells(rows.nth(1));
  assert.deepEqual(rules.slice(1, 3), ['Access rules edited', 'ruled']);
  assert.match(rules[3], /Access rules turned on/);
  assert.match(rules[3], /Group devs added: alice/);
  assert.match(rules[3], /Rule added: \/trunk, group devs: read and write/);
  await page.screenshot({ path: path.join(SHOTS_DIR, 'history.png'), fullPage: true });
  await page.getByLabel('Administrator').fill('someone else');
  await page.getByRole('button', { name: 'Filter' }).click();
  await page.getByText('No changes recorded for this repository and administrator.').waitFor();
  await page.getByRole('button', { name: 'Show all' }).click();
  await page.getByText(`1–20 of ${total}`).waitFor();
  assert.ok(!(await page.locator('body').innerText()).includes('pw-'));

  // The edit dialog shows a repository's last changes.
  await page.getByRole('button', { name: 'Repositories' }).click();
  const dialog = await edit('ruled');
  const recent = dialog.getByRole('region', { name: 'Last changes' });
  await recent.locator('ol > li').first().waitFor();
  assert.equal(await recent.locator('ol > li').count(), 3);
  assert.match(await recent.locator('ol > li').first().innerText(), /admin: Edited\s+Anonymous access: no access → read/);
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  await page.setViewportSize({ width: 375, height: 740 });
  await page.getByRole('button', { name: 'History' }).click();
  await rows.first().waitFor();
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= 375));
  await page.setViewportSize({ width: 1100, height: 760 });
});

// Files of a repository, as set up by hand.
const confFile = (name, file) => path.join(SANDBOX_DIR, 'repo', name, 'conf', file);

test('accounts two repositories share change only after the page names the other and asks', async () => {
  for (const name of ['teamA', 'teamB']) {
    assert.equal((await post({ action: 'add', name, anon: 'none', accounts: '[]' })).success, true);
  }
  // teamB logs in with teamA's account file.
  const passwd = confFile('teamA', 'passwd');
  fs.writeFileSync(passwd, '[users]\nann = pw-1\n');
  fs.writeFileSync(confFile('teamB', 'svnserve.conf'),
    '[general]\nanon-access = none\npassword-db = ../../teamA/conf/passwd\n');
  await page.goto('/');
  const dialog = await edit('teamA');
  await dialog.getByText('These accounts are shared with teamB: a change applies to both.').waitFor();
  await dialog.getByLabel('Password', { exact: true }).fill('pw-2');
  const consent = page.getByRole('dialog', { name: 'Change other repositories too?' });
  for (const answer of ['Cancel', 'Save for all']) {
    await dialog.getByRole('button', { name: 'Save', exact: true }).click();
    await consent.getByText('This change also reaches teamB, which uses the same account file.').waitFor();
    await page.screenshot({ path: path.join(SHOTS_DIR, 'shared.png') });
    await consent.getByRole('button', { name: answer }).click();
    if (answer === 'Cancel') {
      await dialog.getByText('Nothing was saved.').waitFor();
      assert.equal(fs.readFileSync(passwd, 'utf8'), '[users]\nann = pw-1\n');
    }
  }
  await page.getByText('Repository “teamA” saved.').waitFor();
  assert.equal(fs.readFileSync(passwd, 'utf8'), '[users]\nann = pw-2\n');
  assert.ok(svn(['ls', url('teamB')], ['ann', 'pw-2']));

  // Removing teamA would take teamB's accounts with it: the program says
  // so, the page names teamB and asks.
  await page.getByRole('button', { name: 'Remove teamA' }).click();
  await page.getByRole('dialog', { name: 'Remove “teamA”?' }).getByRole('button', { name: 'Remove' }).click();
  const removal = page.getByRole('dialog', { name: 'Remove files other repositories use?' });
  await removal.getByText('teamB uses files kept in “teamA”').waitFor();
  await removal.getByRole('button', { name: 'Cancel' }).click();
  await page.getByText('Repository “teamA” was not removed.').waitFor();
  assert.ok(svn(['ls', url('teamB')], ['ann', 'pw-2']));
});

test('rules the page cannot edit say why, and the realm still saves', async () => {
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-a' }]);
  assert.equal((await post({ action: 'add', name: 'aliased', anon: 'none', accounts })).success, true);
  const rules = '[aliases]\nboss = alice\n[/]\n&boss = rw\n';
  fs.writeFileSync(confFile('aliased', 'authz'), rules);
  fs.writeFileSync(confFile('aliased', 'svnserve.conf'),
    '[general]\nanon-access = none\npassword-db = passwd\nauthz-db = authz\n');
  await page.goto('/');
  const dialog = await edit('aliased');
  await dialog.getByText('The rules use aliases ([aliases]), which this page does not show.').waitFor();
  for (const button of ['Save access rules', 'Add rule', 'Add group']) {
    assert.equal(await dialog.getByRole('button', { name: button }).isVisible(), false, button);
  }
  assert.equal(await dialog.getByLabel('Path', { exact: true }).isDisabled(), true);
  await dialog.locator('#access').screenshot({ path: path.join(SHOTS_DIR, 'handmade.png') });
  await dialog.getByLabel('Realm').fill('Aliased');
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “aliased” saved.').waitFor();
  assert.equal((await post({ action: 'show', name: 'aliased' })).data.realm, 'Aliased');
  assert.equal(fs.readFileSync(confFile('aliased', 'authz'), 'utf8'), rules);
});

test('access for accounts is chosen on create, shown with the realm the server announces, and changed', async () => {
  await page.getByRole('button', { name: 'New repository' }).click();
  let dialog = page.getByRole('dialog', { name: 'New repository' });
  await dialog.getByLabel('Name', { exact: true }).fill('readers');
  await dialog.getByLabel('Accounts may only read').check();
  await dialog.getByRole('button', { name: 'Add account' }).click();
  await dialog.getByLabel('Account', { exact: true }).fill('bob');
  await dialog.getByLabel('Password', { exact: true }).fill('pw-b');
  await dialog.getByRole('button', { name: 'Create' }).click();
  await page.getByText('Repository “readers” created.').waitFor();
  assert.ok(svn(['ls', url('readers')], ['bob', 'pw-b']));
  assert.ok(!svn(['mkdir', '-m', 'b', `${url('readers')}/b`], ['bob', 'pw-b']));

  dialog = await edit('readers');
  const { uuid } = (await post({ action: 'show', name: 'readers' })).data;
  await dialog.getByText(`No realm is set: the server announces the repository’s UUID, ${uuid}, its default.`).waitFor();
  assert.equal(await dialog.getByLabel('Accounts may only read').isChecked(), true);
  await dialog.getByLabel('Accounts may read and write').check();
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “readers” saved.').waitFor();
  assert.ok(svn(['mkdir', '-m', 'b', `${url('readers')}/b`], ['bob', 'pw-b']));
});

test('with SASL the page says SASL keeps the accounts, and the rest still saves', async () => {
  assert.equal((await post({ action: 'add', name: 'sasl', anon: 'none', accounts: '[]' })).success, true);
  fs.writeFileSync(confFile('sasl', 'svnserve.conf'),
    '[general]\nanon-access = none\nauth-access = read\n[sasl]\nuse-sasl = true\n');
  await page.goto('/');
  const dialog = await edit('sasl');
  await dialog.getByText('SASL decides who logs in to this repository and keeps its accounts').waitFor();
  assert.equal(await dialog.getByRole('button', { name: 'Add account' }).isVisible(), false);
  assert.equal(await dialog.getByLabel('Accounts may only read').isChecked(), true);
  await dialog.getByLabel('Accounts may do nothing').check();
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “sasl” saved.').waitFor();
  assert.equal((await post({ action: 'show', name: 'sasl' })).data.auth_access, 'none');
});

test('rename a repository, with consent where a shared file changes', async () => {
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-r' }]);
  assert.equal((await post({ action: 'add', name: 'ren-a', anon: 'none', accounts })).success, true);
  await page.goto('/');
  await page.getByLabel('Find by name').fill('ren-');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('button', { name: 'Rename ren-a' }).click();
  let dialog = page.getByRole('dialog', { name: 'Rename “ren-a”' });
  assert.equal(await dialog.getByLabel('New name').inputValue(), 'ren-a');
  await dialog.getByLabel('New name').fill('dflt');
  await dialog.getByRole('button', { name: 'Rename' }).click();
  await dialog.getByText('A repository named “dflt” already exists.').waitFor();
  await dialog.getByLabel('New name').fill('ren-b');
  await dialog.getByRole('button', { name: 'Rename' }).click();
  await page.getByText('Repository “ren-a” renamed to “ren-b”.').waitFor();
  await page.getByRole('button', { name: 'Rename ren-b' }).waitFor();
  assert.ok(svn(['ls', url('ren-b')], ['alice', 'pw-r']));
  assert.ok(!svn(['ls', url('ren-a')], ['alice', 'pw-r']));

  // Rules for it in another repository's rules file (files the program
  // made, which the web server's user may replace).
  assert.equal((await post({ action: 'add', name: 'ren-other', anon: 'none', accounts })).success, true);
  const rules = path.join(SANDBOX_DIR, 'repo/ren-other/conf/authz');
  fs.writeFileSync(rules, '[/]\n* = r\n[ren-b:/]\nalice = rw\n');
  for (const [name, authz] of [['ren-b', '../../ren-other/conf/authz'], ['ren-other', 'authz']]) {
    fs.writeFileSync(path.join(SANDBOX_DIR, 'repo', name, 'conf/svnserve.conf'),
      `[general]\nanon-access = none\npassword-db = passwd\nauthz-db = ${authz}\n`);
  }
  await page.getByRole('button', { name: 'Rename ren-b' }).click();
  dialog = page.getByRole('dialog', { name: 'Rename “ren-b”' });
  await dialog.getByLabel('New name').fill('ren-c');
  await dialog.getByRole('button', { name: 'Rename' }).click();
  await dialog.getByText('It reaches “ren-other”. Rename anyway?').waitFor();
  assert.ok(fs.existsSync(path.join(SANDBOX_DIR, 'repo/ren-b')));
  await page.screenshot({ path: path.join(SHOTS_DIR, 'rename.png') });
  await dialog.getByRole('button', { name: 'Rename anyway' }).click();
  await page.getByText('Repository “ren-b” renamed to “ren-c”.').waitFor();
  assert.equal(fs.readFileSync(rules, 'utf8'), '[/]\n* = r\n[ren-c:/]\nalice = rw\n');
  assert.ok(svn(['mkdir', '-m', 'x', `${url('ren-c')}/x`], ['alice', 'pw-r']));
});

test('switches for log messages and read-only; a hook made by hand is left alone', async () => {
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-h' }]);
  assert.equal((await post({ action: 'add', name: 'hooked', anon: 'none', layout: 'standard', accounts })).success, true);
  const alice = ['alice', 'pw-h'];
  await page.goto('/');
  let dialog = await edit('hooked');
  const logs = dialog.getByRole('switch', { name: 'Allow editing log messages' });
  const readOnly = dialog.getByRole('switch', { name: 'Read-only' });
  assert.deepEqual([await logs.isChecked(), await readOnly.isChecked()], [false, false]);
  assert.ok(!svn(['propset', '--revprop', '-r', '1', 'svn:log', 'better', url('hooked')], alice));
  await logs.check();
  await page.getByText('Editing log messages is on for “hooked”.').waitFor();
  assert.ok(svn(['propset', '--revprop', '-r', '1', 'svn:log', 'better', url('hooked')], alice));
  await readOnly.check();
  await page.getByText('Read-only is on for “hooked”.').waitFor();
  const refused = svnRun(['mkdir', '-m', 'x', `${url('hooked')}/x`], alice);
  assert.match(refused.stderr.toString(), /This repository is read-only\./);
  await readOnly.uncheck();
  await page.getByText('Read-only is off for “hooked”.').waitFor();
  assert.ok(svn(['mkdir', '-m', 'x', `${url('hooked')}/x`], alice));
  await dialog.getByRole('button', { name: 'Cancel' }).click();

  const hook = path.join(SANDBOX_DIR, 'repo/hooked/hooks/start-commit');
  fs.writeFileSync(hook, '#!/bin/sh\nexit 0\n', { mode: 0o755 });
  dialog = await edit('hooked');
  await dialog.getByText('The start-commit hook is a script made by hand').waitFor();
  assert.equal(await dialog.getByRole('switch', { name: 'Read-only' }).isDisabled(), true);
  assert.equal(await dialog.getByRole('switch', { name: 'Allow editing log messages' }).isChecked(), true);
  await dialog.locator('#hooks').scrollIntoViewIfNeeded();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'hooks.png') });
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  assert.equal(fs.readFileSync(hook, 'utf8'), '#!/bin/sh\nexit 0\n');
});

// The switches act at once: they stand apart, before the fields Save and
// Cancel are for, and say so; Cancel leaves them as they were turned.
test('switches that take effect at once stand apart from Save and Cancel', async () => {
  await page.goto('/');
  let dialog = await edit('hooked');
  const panel = dialog.getByRole('group', { name: 'Commits and log messages' });
  await panel.getByText('These switches take effect at once').waitFor();
  const save = await dialog.getByRole('button', { name: 'Save', exact: true }).boundingBox();
  const cancel = await dialog.getByRole('button', { name: 'Cancel', exact: true }).boundingBox();
  const box = await panel.boundingBox();
  assert.ok(box.y + box.height < Math.min(save.y, cancel.y), 'the switches come before the fields Save is for');
  assert.ok(await dialog.getByLabel('Realm').evaluate((realm, at) => realm.getBoundingClientRect().top > at,
    box.y + box.height), 'the fields Save is for come after the switches');
  const readOnly = dialog.getByRole('switch', { name: 'Read-only' });
  assert.match(await readOnly.getAttribute('aria-describedby'), /\bhooks-note\b/);
  fs.rmSync(path.join(SANDBOX_DIR, 'repo/hooked/hooks/start-commit'));
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  dialog = await edit('hooked');
  await dialog.getByRole('switch', { name: 'Read-only' }).check();
  await page.getByText('Read-only is on for “hooked”.').waitFor();
  await dialog.getByRole('button', { name: 'Cancel' }).click();
  dialog = await edit('hooked');
  assert.equal(await dialog.getByRole('switch', { name: 'Read-only' }).isChecked(), true);
  await dialog.getByRole('switch', { name: 'Read-only' }).uncheck();
  await page.getByText('Read-only is off for “hooked”.').waitFor();
  await dialog.getByRole('button', { name: 'Cancel' }).click();
});

// An account list as the server showed it saves back unchanged, whatever
// a hand put in the file; a new account without a password is refused.
test('accounts made by hand are saved back as they stand', async () => {
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-g' }]);
  assert.equal((await post({ action: 'add', name: 'by-hand', anon: 'none', accounts })).success, true);
  fs.appendFileSync(confFile('by-hand', 'passwd'), 'guest = \n');
  await page.goto('/');
  const dialog = await edit('by-hand');
  assert.equal(await dialog.getByLabel('Password', { exact: true }).last().inputValue(), '');
  await dialog.getByLabel('Realm').fill('Kept as it stands');
  await dialog.getByRole('button', { name: 'Save', exact: true }).click();
  await page.getByText('Repository “by-hand” saved.').waitFor();
  assert.equal((await post({ action: 'show', name: 'by-hand' })).data.realm, 'Kept as it stands');
  assert.match(fs.readFileSync(confFile('by-hand', 'passwd'), 'utf8'), /\nguest = \n/);
  const again = await edit('by-hand');
  await again.getByRole('button', { name: 'Add account' }).click();
  await again.getByLabel('Account', { exact: true }).last().fill('nopw');
  await again.getByRole('button', { name: 'Save', exact: true }).click();
  await again.getByText('The account “nopw” needs a password.').waitFor();
  await again.getByRole('button', { name: 'Cancel' }).click();
});

// Where a dialog stands, and what in it sticks out of it (what is wider
// than the screen scrolls within its own .wide box; what is clipped away,
// such as a table's heads on a narrow screen, is not seen).
const withinScreen = (dialog) => dialog.evaluate((d) => {
  const box = d.getBoundingClientRect();
  const clipped = (e) => e && e !== d && (getComputedStyle(e).clip !== 'auto' || clipped(e.parentElement));
  const out = [...d.querySelectorAll('*')].filter((e) => {
    const r = e.getBoundingClientRect();
    return r.width > 0 && !e.closest('.wide') && !clipped(e) && (r.left < box.left - 0.5 || r.right > box.right + 0.5);
  }).map((e) => e.id || e.className || e.tagName);
  return { left: box.left, right: box.right, out, scrolls: d.scrollWidth > d.clientWidth };
});

// At 375 px, every button of every row shows whole, and no dialog is
// wider than the screen (what is wider scrolls inside it).
test('a 375 px screen shows every button whole and every dialog within it', async () => {
  await page.setViewportSize({ width: 375, height: 740 });
  await page.goto('/');
  await page.locator('#repos tbody tr').first().waitFor();
  const cut = await page.evaluate(() => [...document.querySelectorAll('#repos tbody button')]
    .filter((b) => {
      const r = b.getBoundingClientRect();
      const table = b.closest('table').getBoundingClientRect();
      return r.width === 0 || r.left < Math.max(table.left, 0) - 0.5 || r.right > Math.min(table.right, 375) + 0.5;
    }).map((b) => b.getAttribute('aria-label')));
  assert.deepEqual(cut, []);
  const dialogs = [
    ['New repository', async () => page.getByRole('button', { name: 'New repository' }).click(), 'Cancel'],
    ['Edit “ruled”', async () => { await edit('ruled'); }, 'Cancel'],
    [/^Rename “/, async () => page.getByRole('button', { name: /^Rename / }).first().click(), 'Cancel'],
    [/^Remove “/, async () => page.getByRole('button', { name: /^Remove / }).first().click(), 'Cancel'],
  ];
  for (const [name, open, close] of dialogs) {
    await page.goto('/');
    await page.locator('#repos tbody tr').first().waitFor();
    await open();
    const dialog = page.getByRole('dialog', { name });
    await dialog.waitFor();
    await page.waitForTimeout(300);  // what the dialog reads is in
    const seen = await withinScreen(dialog);
    assert.ok(seen.left >= 0 && seen.right <= 375, `${name}: ${JSON.stringify(seen)}`);
    assert.deepEqual(seen.out, [], String(name));
    await dialog.getByRole('button', { name: close, exact: true }).click();
  }
  await page.setViewportSize({ width: 1100, height: 760 });
});

// The history tells every kind of record in words (no key of the
// program's), a removal says what went, and each job its result,
// revision and file: joined to the request that started it when both are
// on the page, on its own otherwise.
test('the history says every action in words, and each job its result, revision and file', async () => {
  assert.ok(svn(['propset', '--revprop', '-r', '1', 'svn:log', 'Clearer words', url('hooked')], ['alice', 'pw-h']));
  const backup = await post({ action: 'backup', name: 'hooked' });
  const ended = await untilEnded(backup.data.job);
  assert.equal(ended.state, 'done');
  // The backup's end is svn-admin's own record; a failed verify's, as the
  // log holds them.
  const log = path.join(SANDBOX_DIR, 'var/audit.log');
  const last = JSON.parse(fs.readFileSync(log, 'utf8').trim().split('\n').pop()).seq;
  const end = (seq, outcome, changes) => JSON.stringify({ action: 'job_end', addr: '', changes, name: 'hooked',
    outcome, seq, time: new Date().toISOString().replace(/\.\d+Z$/, 'Z'), user: 'admin' });
  fs.appendFileSync(log, `${
    end(last + 1, 'failed', { job: '20200101T000000.000000Z-0000abcd', kind: 'verify', rev: 1, error: 'Verifying found problems.' })}\n`);
  assert.equal((await post({ action: 'add', name: 'fleeting', anon: 'none', accounts: '[]' })).success, true);
  assert.equal((await post({ action: 'rename', name: 'fleeting', to: 'fleeting-2' })).success, true);
  assert.equal((await post({ action: 'remove', name: 'fleeting-2' })).success, true);

  await page.goto('/');
  await page.getByRole('button', { name: 'History' }).click();
  const shown = async (name) => {
    await page.getByLabel('Repository', { exact: true }).fill(name);
    await page.getByRole('button', { name: 'Filter' }).click();
    await page.locator('#history tbody tr').first().waitFor();
    await page.waitForTimeout(300);
    const rows = [];
    for (const row of await page.locator('#history tbody tr').all()) {
      rows.push((await row.locator('td').allInnerTexts()).slice(1).map((t) => t.trim()));
    }
    return rows;
  };
  const rows = await shown('hooked');
  const action = (words) => rows.find((r) => r[1] === words);
  for (const r of rows) assert.doesNotMatch(r[1], /_|^[a-z]+$/, JSON.stringify(r));
  assert.match(action('Log message changed')[3], /^Log message of revision 1: “better” → “Clearer words”$/);
  assert.match(action('Log message changed')[0], /^alice/);
  assert.ok(rows.some((r) => r[1] === 'Switches changed' && r[3] === 'Editing log messages: off → on'));
  assert.match(action('Backup started')[3], new RegExp(`Result: finished\nRevision ${ended.rev}\nBackup file ${ended.file.replace(/\./g, '\\.')}`));
  assert.equal(rows.filter((r) => r[1] === 'Backup finished').length, 0);  // joined
  assert.match(action('Verify failed')[3], /Revision 1\nWhy: Verifying found problems\./);
  const gone = await shown('fleeting-2');
  assert.deepEqual(gone.map((r) => r[1]), ['Removed', 'Renamed', 'Created']);
  assert.notEqual(gone[0][3], 'nothing');
  assert.equal(gone[1][3], 'Name: “fleeting” → “fleeting-2”');
});

// ---- Backups, restores and verifies ----

// A command as the server's user (www-data when the test runs as root).
function asServer(command, args, options = {}) {
  const run = process.getuid() === 0
    ? spawnSync('setpriv', ['--reuid=www-data', '--regid=www-data', '--clear-groups', command, ...args], options)
    : spawnSync(command, args, options);
  assert.equal(run.status, 0, String(run.stderr));
  return run;
}

// A dump stream of `revisions` revisions by alice, each rewriting one of
// ten files with `bytes` of text (thousands of commits through svn would
// take minutes).
function makeDump(revisions, bytes) {
  const props = (pairs) => pairs.map(([k, v]) => `K ${k.length}\n${k}\nV ${v.length}\n${v}\n`).join('') + 'PROPS-END\n';
  const parts = ['SVN-fs-dump-format-version: 2\n\nUUID: 6a3c1d2e-0b4f-4e5d-9c8b-7a6f5e4d3c2b\n\n'];
  const revision = (n, p) => parts.push(`Revision-number: ${n}\nProp-content-length: ${p.length}\nContent-length: ${p.length}\n\n${p}\n`);
  revision(0, props([['svn:date', '2024-01-01T00:00:00.000000Z']]));
  for (let r = 1; r <= revisions; r++) {
    const date = new Date(Date.UTC(2024, 0, 1) + r * 60000).toISOString().replace(/\.\d+Z$/, '.000000Z');
    revision(r, props([['svn:author', 'alice'], ['svn:date', date], ['svn:log', `Change ${r}`]]));
    const text = `line of revision ${r}\n`.repeat(Math.ceil(bytes / 20));
    const node = `Node-path: f${r % 10}.txt\nNode-kind: file\n`;
    parts.push(r <= 10
      ? `${node}Node-action: add\nProp-content-length: 10\nText-content-length: ${text.length}\nContent-length: ${text.length + 10}\n\nPROPS-END\n${text}\n`
      : `${node}Node-action: change\nText-content-length: ${text.length}\nContent-length: ${text.length}\n\n${text}\n`);
  }
  return parts.join('');
}

// The package's tool with the copy of a backup slowed down: before the
// copy, the repository is read and written to /dev/null a little at a
// time by the tool's own process, whose bytes written are the job's
// progress (a child's count in only once it has ended); or the tool itself
// again.
const toolPath = path.join(SANDBOX_DIR, 'bin/svnadmin');
const realTool = spawnSync('sh', ['-c', 'command -v svnadmin']).stdout.toString().trim();
function slowTool(slow) {
  fs.unlinkSync(toolPath);
  if (!slow) {
    fs.symlinkSync(realTool, toolPath);
    return;
  }
  const script = path.join(SANDBOX_DIR, 'slow-svnadmin.cjs');
  fs.writeFileSync(script, `const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const args = process.argv.slice(2);
const sink = fs.openSync('/dev/null', 'w');
const pause = new Int32Array(new SharedArrayBuffer(4));
const slowly = (dir) => {
  for (const e of fs.readdirSync(dir, { withFileTypes: true })) {
    const file = dir + '/' + e.name;
    if (e.isDirectory()) slowly(file);
    if (!e.isFile()) continue;
    const data = fs.readFileSync(file);
    for (let at = 0; at < data.length; at += 4096) {
      fs.writeSync(sink, data, at, Math.min(4096, data.length - at));
      Atomics.wait(pause, 0, 0, 40);
    }
  }
};
if (args[0] === 'hotcopy') slowly(args[1]);
const run = spawnSync(${JSON.stringify(realTool)}, args, { stdio: 'inherit' });
process.exit(run.status === null ? 1 : run.status);
`);
  fs.writeFileSync(toolPath, `#!/bin/sh\nexec ${process.execPath} ${script} "$@"\n`, { mode: 0o755 });
}

async function get(params) {
  const response = await fetch(`${web}/svn.cgi?${new URLSearchParams(params)}`, {
    headers: { Authorization: `Basic ${Buffer.from(`admin:${PASSWORD}`).toString('base64')}` },
  });
  return response.json();
}

async function untilEnded(id) {
  for (let i = 0; i < 600; i++) {
    const job = (await get({ action: 'jobs', id })).data[0];
    if (job.state !== 'running') return job;
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`job ${id} did not end`);
}

const backupFile = (name, file) => path.join(SANDBOX_DIR, 'backup', name, file);

async function openBackupsOf(name) {
  await page.goto('/');
  await page.getByLabel('Find by name').fill(name);
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('button', { name: `Backups ${name}`, exact: true }).click();
  return page.getByRole('dialog', { name: `Backups of “${name}”` });
}

test('back up with a progress bar, download, verify, remove a backup', async () => {
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-a' }]);
  assert.equal((await post({ action: 'add', name: 'big', realm: 'Big', anon: 'none', accounts })).success, true);
  asServer('svnadmin', ['load', '-q', '--no-flush-to-disk', path.join(SANDBOX_DIR, 'repo/big')],
    { input: makeDump(400, 2000), maxBuffer: 1 << 26 });
  slowTool(true);
  const dialog = await openBackupsOf('big');
  await dialog.getByText('No backups yet.').waitFor();
  await dialog.getByText('Never verified.').waitFor();
  await dialog.getByRole('button', { name: 'Back up now' }).click();
  // The bar moves while the job runs (the list is redrawn each poll).
  const bar = dialog.getByRole('progressbar', { name: 'Backing up “big”' });
  await bar.waitFor();
  const seen = new Set();
  while (await bar.count() > 0) {
    try {
      seen.add(await bar.evaluate((e) => `${e.value}/${e.max} ${e.nextElementSibling.textContent}`, null, { timeout: 1000 }));
    } catch { /* redrawn or gone meanwhile */ }
    await page.waitForTimeout(100);
  }
  // Filling by bytes, said in bytes.
  const moving = [...seen].filter((v) => {
    const [value, max] = v.split(' ')[0].split('/').map(Number);
    return value > 0 && value < max;
  });
  assert.ok(moving.length >= 2, `progress seen: ${[...seen]}`);
  for (const v of moving) assert.match(v, / \d+(\.\d)? (bytes|KiB|MiB) of \d+(\.\d)? (KiB|MiB)$/);
  await dialog.getByText('Backup of “big” done, revision 400.').waitFor();
  slowTool(false);
  const row = dialog.getByRole('row', { name: /400/ });
  await row.waitFor();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'backups.png') });

  // The download is the file, byte for byte.
  const [file] = fs.readdirSync(path.join(SANDBOX_DIR, 'backup/big')).filter((f) => !f.startsWith('.'));
  const href = await row.getByRole('link', { name: /^Download/ }).getAttribute('href');
  const download = await page.context().request.get(new URL(href, web).href);
  assert.equal(download.headers()['content-type'], 'application/gzip');
  assert.match(download.headers()['content-disposition'], /^attachment; filename="big-\d{8}T\d{6}Z-r400\.tar\.gz"/);
  assert.ok(Buffer.compare(await download.body(), fs.readFileSync(path.join(SANDBOX_DIR, 'backup/big', file))) === 0);

  await dialog.getByRole('button', { name: 'Verify' }).click();
  await dialog.getByText('Verify of “big” no problems found.').waitFor();
  await dialog.getByText(/^Last verified .*: no problems found\.$/).waitFor();
  assert.equal((await post({ action: 'show', name: 'big' })).data.verified.ok, true);

  await row.getByRole('button', { name: /^Remove the backup/ }).click();
  await page.getByRole('dialog', { name: 'Remove this backup?' }).getByRole('button', { name: 'Remove' }).click();
  await dialog.getByText('No backups yet.').waitFor();
  assert.deepEqual(fs.readdirSync(path.join(SANDBOX_DIR, 'backup/big')).filter((f) => !f.startsWith('.')), []);
  await dialog.getByRole('button', { name: 'Close' }).click();
});

test('a running backup can be cancelled, and nothing is left of it', async () => {
  slowTool(true);
  const dialog = await openBackupsOf('big');
  await dialog.getByRole('button', { name: 'Back up now' }).click();
  await dialog.getByRole('progressbar', { name: 'Backing up “big”' }).waitFor();
  await dialog.getByRole('button', { name: 'Cancel: backing up “big”' }).click();
  await dialog.getByText('Backup of “big” cancelled; nothing was left half-made.').waitFor();
  slowTool(false);
  await dialog.getByText('No backups yet.').waitFor();
  assert.deepEqual(fs.readdirSync(path.join(SANDBOX_DIR, 'backup/big')).filter((f) => f !== '.name'), []);
  await dialog.getByRole('button', { name: 'Close' }).click();
});

test('restore as a new repository: from a listed backup, from a file, and a hostile file refused in words', async () => {
  const started = await post({ action: 'backup', name: 'big' });
  assert.equal((await untilEnded(started.data.job)).state, 'done');
  await page.goto('/');
  const restoreAs = async (name, fill) => {
    await page.getByRole('button', { name: 'Restore…' }).click();
    const dialog = page.getByRole('dialog', { name: 'Restore as a new repository' });
    await dialog.getByLabel('Name of the new repository').fill(name);
    if (fill) await fill(dialog);
    await dialog.getByRole('button', { name: 'Restore', exact: true }).click();
  };
  await restoreAs('big-copy');  // the newest backup is chosen
  await page.locator('#jobs').getByText('Restore of “big-copy” done, revision 400.').waitFor({ timeout: 60000 });
  await page.getByRole('row', { name: /big-copy/ }).waitFor();
  assert.ok(svn(['ls', url('big-copy')], ['alice', 'pw-a']));
  assert.ok(!svn(['ls', url('big-copy')]));

  // Past the 1 MiB every other request is held to: through the web server
  // and the program as it streams.
  const plain = path.join(SANDBOX_DIR, 'plain.svndump');
  fs.writeFileSync(plain, makeDump(5, 500000));
  await restoreAs('from-dump', async (dialog) => {
    await dialog.getByLabel('File to restore').setInputFiles(plain);
    await dialog.getByLabel('Anonymous read').check();
  });
  await page.locator('#jobs').getByText('Restore of “from-dump” done, revision 5.').waitFor({ timeout: 60000 });
  assert.equal(svnRun(['ls', url('from-dump')]).stdout.toString(), 'f1.txt\nf2.txt\nf3.txt\nf4.txt\nf5.txt\n');

  const hostile = path.join(SANDBOX_DIR, 'hostile');
  fs.mkdirSync(path.join(hostile, 'hooks'), { recursive: true });
  fs.writeFileSync(path.join(hostile, 'manifest.json'), JSON.stringify(
    { format: 1, name: 'x', uuid: '6a3c1d2e-0b4f-4e5d-9c8b-7a6f5e4d3c2b', rev: 0, time: '2024-01-01T00:00:00Z', version: 'x' }));
  fs.writeFileSync(path.join(hostile, 'hooks/pre-commit'), '#!/bin/sh\ntouch /tmp/owned\n');
  fs.writeFileSync(path.join(hostile, 'x.svndump'), makeDump(1, 10));
  assert.equal(spawnSync('tar', ['-czf', `${hostile}.tar.gz`, '-C', hostile, 'manifest.json', 'hooks/pre-commit', 'x.svndump']).status, 0);
  await restoreAs('hostile', (dialog) => dialog.getByLabel('File to restore').setInputFiles(`${hostile}.tar.gz`));
  await page.locator('#jobs').getByText('Restore of “hostile” failed: The file holds “hooks/pre-commit”, which is not part of a backup: nothing is taken from it.').waitFor({ timeout: 60000 });
  assert.ok(!fs.existsSync(path.join(SANDBOX_DIR, 'repo/hostile')));

  // A backup of another server, uploaded: its hook made by hand is left
  // out, and the job's line says so.
  const hook = path.join(SANDBOX_DIR, 'repo/hooked/hooks/start-commit');
  fs.writeFileSync(hook, '#!/bin/sh\nexit 0\n', { mode: 0o755 });
  const hooked = await post({ action: 'backup', name: 'hooked' });
  const { file } = await untilEnded(hooked.data.job);
  fs.rmSync(hook);
  await restoreAs('hooked-copy', (dialog) => dialog.getByLabel('File to restore').setInputFiles(backupFile('hooked', file)));
  await page.locator('#jobs').getByText(/^Restore of “hooked-copy” done, revision \d+\. Hooks made by hand were left out .*start-commit/)
    .waitFor({ timeout: 60000 });
  await page.screenshot({ path: path.join(SHOTS_DIR, 'jobs.png') });
});

// One backup followed through the dialog: its kind and checksum, a test
// restore, a restore over the repository after a later commit, and the
// reasons of a failed test restore and a failed verify.
test('a backup’s kind, checksum and test restore, a restore over the repository, and failures in words', async () => {
  const alice = ['alice', 'pw-a'];
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-a' }]);
  assert.equal((await post({ action: 'add', name: 'over', anon: 'none', accounts })).success, true);
  for (const dir of ['one', 'two']) assert.ok(svn(['mkdir', '-m', dir, `${url('over')}/${dir}`], alice));
  let dialog = await openBackupsOf('over');
  await dialog.getByLabel('Kind of backup').selectOption('dump');
  await dialog.getByRole('button', { name: 'Back up now' }).click();
  await dialog.getByText('Backup of “over” done, revision 2.').waitFor();
  const row = dialog.getByRole('row', { name: /Dump/ });
  await row.waitFor();
  const [file] = fs.readdirSync(path.join(SANDBOX_DIR, 'backup/over')).filter((f) => !f.startsWith('.'));
  const sum = createHash('sha256').update(fs.readFileSync(backupFile('over', file))).digest('hex');
  const code = row.locator('td.sum code');
  assert.equal(await code.textContent(), sum.slice(0, 12));
  assert.equal(await code.getAttribute('title'), sum);
  await row.getByRole('button', { name: /^Whole SHA-256/ }).click();
  assert.equal(await code.textContent(), sum);
  await row.getByText('Never tested.').waitFor();

  await row.getByRole('button', { name: /^Test restore of the backup/ }).click();
  await dialog.getByText('Test restore of “over” passed, revision 2.').waitFor();
  await row.getByText(/^Passed .*, revision 2\.$/).waitFor();

  // A commit after the backup goes with the restore over the repository.
  assert.ok(svn(['mkdir', '-m', 'three', `${url('over')}/three`], alice));
  const youngest = () => asServer('svnlook', ['youngest', path.join(SANDBOX_DIR, 'repo/over')]).stdout.toString().trim();
  assert.equal(youngest(), '3');
  await row.getByRole('button', { name: /over “over”$/ }).click();
  const confirm = page.getByRole('dialog', { name: 'Restore over “over”?' });
  const said = await confirm.locator('p').textContent();
  for (const part of ['“over” will be replaced by its backup of', 'revision 2', 'current history', 'settings, accounts',
    'hooks', 'unavailable only for the moment']) assert.ok(said.includes(part), said);
  await page.screenshot({ path: path.join(SHOTS_DIR, 'restore-over.png') });
  await confirm.getByRole('button', { name: 'Restore over it' }).click();
  await dialog.getByText('Restore of “over” done, revision 2.').waitFor({ timeout: 60000 });
  assert.equal(youngest(), '2');
  assert.ok(svn(['ls', `${url('over')}/two`], alice));
  assert.ok(!svn(['ls', `${url('over')}/three`], alice));

  // Damage on disk, said with its reason: a byte of the backup, then a
  // revision of the repository.
  const rewrite = (where, data) => asServer('sh', ['-c', 'chmod u+w "$0" && cat > "$0"', where], { input: data });
  const whole = fs.readFileSync(backupFile('over', file));
  const damaged = Buffer.from(whole);
  damaged[damaged.length - 8] ^= 0xff;  // the last gzip member's CRC
  rewrite(backupFile('over', file), damaged);
  await row.getByRole('button', { name: /^Test restore of the backup/ }).click();
  await dialog.getByText(/^Test restore of “over” failed: .+/s).waitFor();
  assert.match(await row.locator('td.tested').textContent(), /^Failed .+: .*damaged/is);
  rewrite(backupFile('over', file), whole);
  const rev = path.join(SANDBOX_DIR, 'repo/over/db/revs/0/2');
  const broken = fs.readFileSync(rev);
  broken.fill(0x21, 10, 40);
  rewrite(rev, broken);
  await dialog.getByRole('button', { name: 'Verify', exact: true }).click();
  await dialog.getByText(/^Verify of “over” failed: .+/s).waitFor();
  await dialog.getByText(/^Last verified .*: problems found: .+\.$/s).waitFor();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'backups-failed.png') });
  await dialog.getByRole('button', { name: 'Close' }).click();
  await page.getByRole('row', { name: /over/ }).getByText('last verify failed').waitFor();
});

// Opened from the Backups dialog, the restore dialog takes its place and
// asks only what applies to a listed backup; both fit a 375 px screen.
test('the restore dialog from a backup: in place of the Backups dialog, without the dump fields', async () => {
  for (const width of [1100, 375]) {
    await page.setViewportSize({ width, height: 760 });
    const dialog = await openBackupsOf('over');
    await dialog.getByRole('row', { name: /Dump/ }).waitFor();
    let seen = await withinScreen(dialog);
    assert.ok(seen.left >= 0 && seen.right <= width && !seen.scrolls, JSON.stringify(seen));
    assert.deepEqual(seen.out, []);
    await page.screenshot({ path: path.join(SHOTS_DIR, `backups-${width}.png`) });
    await dialog.getByRole('button', { name: /as a new repository$/ }).first().click();
    const restore = page.getByRole('dialog', { name: 'Restore as a new repository' });
    await restore.waitFor();
    assert.equal(await page.locator('dialog[open]').count(), 1);
    assert.ok(!(await restore.getByLabel('Realm').isVisible()));
    assert.ok(!(await restore.getByLabel('Anonymous read').isVisible()));
    seen = await withinScreen(restore);
    assert.ok(seen.left >= 0 && seen.right <= width && !seen.scrolls, JSON.stringify(seen));
    assert.deepEqual(seen.out, []);
    await page.screenshot({ path: path.join(SHOTS_DIR, `restore-${width}.png`) });
    await restore.getByText('A file from this computer').click();
    assert.ok(await restore.getByLabel('Realm').isVisible());
    await restore.getByText('A backup listed here').click();
    assert.ok(!(await restore.getByLabel('Realm').isVisible()));
    if (width === 375) {
      await restore.getByRole('button', { name: 'Cancel' }).click();
      continue;
    }
    await restore.getByLabel('Name of the new repository').fill('over-twin');
    await restore.getByLabel('With a new UUID').check();
    await restore.getByRole('button', { name: 'Restore', exact: true }).click();
    await page.locator('#jobs').getByText('Restore of “over-twin” done, revision 2.').waitFor({ timeout: 60000 });
    const uuid = async (name) => (await post({ action: 'show', name })).data.uuid;
    assert.notEqual(await uuid('over-twin'), await uuid('over'));
  }
  await page.setViewportSize({ width: 1100, height: 760 });
});

test('the job bar counts bytes, and old records revisions', async () => {
  const MiB = 1 << 20;
  const cases = [
    [{ done: 120 * MiB, total: 250 * MiB, unit: 'bytes' }, '120 MiB of 250 MiB', { max: 250 * MiB, value: 120 * MiB }],
    [{ done: 120 * MiB, total: null, unit: 'bytes' }, '120 MiB so far', null],
    [{ done: 0, total: null, unit: 'bytes' }, 'Starting…', null],
    [{ done: 23, total: 2000, unit: 'revisions' }, 'revision 23 of 2000', { max: 2000, value: 23 }],
    [{ done: 7, total: null, unit: 'revisions' }, '7 revisions so far', null],
    [{ done: 0, total: null, unit: 'revisions' }, 'Starting…', null],
  ];
  const said = await page.evaluate(async (all) => {
    const { progressWords } = await import(new URL('jobs.js', location.href).href);
    return all.map((p) => progressWords(p));
  }, cases.map(([progress]) => progress));
  assert.deepEqual(said, cases.map(([, words, fill]) => [words, fill]));
});

test('the Commits view tells who committed what, by a path across a move, a page at a time', async () => {
  const alice = ['alice', 'pw-a'];
  const accounts = JSON.stringify([{ account: 'alice', password: 'pw-a' }]);
  assert.equal((await post({ action: 'add', name: 'hist', anon: 'none', accounts, layout: 'standard' })).success, true);
  const file = path.join(SANDBOX_DIR, 'a.txt');
  fs.writeFileSync(file, 'a\n');
  assert.ok(svn(['import', '-m', 'Add a.txt', file, `${url('hist')}/trunk/a.txt`], alice));          // r2
  assert.ok(svn(['mv', '-m', 'Rename a.txt to b.txt', `${url('hist')}/trunk/a.txt`, `${url('hist')}/trunk/b.txt`], alice));
  for (let i = 1; i <= 20; i++) assert.ok(svn(['mkdir', '-m', `Folder ${i}`, `${url('hist')}/branches/f${i}`], alice));
  assert.ok(svn(['mkdir', '-m', '<img src=x onerror="document.title=\'pwned\'">', `${url('hist')}/tags/x`], alice));  // r24

  await page.goto('/');
  await page.getByLabel('Find by name').fill('hist');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('button', { name: 'Commits hist' }).click();
  const view = page.locator('#commits-view');
  await view.getByRole('heading', { name: 'Commits of “hist”' }).waitFor();
  await view.getByText('Commits 1–20').waitFor();
  const rows = view.locator('#commits tbody tr');
  assert.equal(await rows.count(), 20);
  assert.match(await rows.first().textContent(), /^r24alice.*<img src=x onerror=/);  // as text
  assert.equal(await view.locator('#commits img').count(), 0);
  assert.notEqual(await page.title(), 'pwned');
  await view.getByRole('button', { name: 'Older' }).click();
  await view.getByText('Commits 21–24 of 24').waitFor();
  assert.match(await rows.last().textContent(), /^r1admin.*Create standard layout3 changed paths/);

  // A file's history, back across its move.
  await view.getByLabel('Path').fill('trunk/b.txt/');
  await view.getByRole('button', { name: 'Filter' }).click();
  await view.getByText('Commits 1–2 of 2').waitFor();
  assert.equal(await view.getByLabel('Path').inputValue(), '/trunk/b.txt');
  assert.deepEqual(await view.locator('#commits tbody td.rev').allTextContents(), ['r3', 'r2']);
  await rows.first().getByText('2 changed paths').click();
  await rows.first().getByText('added: /trunk/b.txt from /trunk/a.txt@2').waitFor();
  await rows.first().getByText('deleted: /trunk/a.txt').waitFor();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'commits.png') });
  await view.getByLabel('Path').fill('/trunk/a.txt');
  await view.getByRole('button', { name: 'Filter' }).click();
  await view.getByText('There is no /trunk/a.txt in the newest revision (r24)').waitFor();
  await view.getByRole('button', { name: 'Whole repository' }).click();
  await view.getByText('Commits 1–20').waitFor();
  await view.getByRole('button', { name: 'All repositories' }).click();
  await page.locator('#repos-view').waitFor();
  assert.equal(await view.isVisible(), false);
});

test('a lock taken with svn lock is listed in the edit dialog and removed after a confirmation', async () => {
  const alice = ['alice', 'pw-a'];
  assert.ok(svn(['lock', '-m', 'On holiday', `${url('hist')}/trunk/b.txt`], alice));
  assert.ok(!svn(['rm', '-m', 'gone', `${url('hist')}/trunk/b.txt`], alice));  // not through her lock's token
  const dialog = await edit('hist');
  const locks = dialog.getByRole('table', { name: 'Locks' });
  await locks.getByText('/trunk/b.txt').waitFor();
  assert.match(await locks.textContent(), /\/trunk\/b\.txtalice.*On holiday/);
  await locks.scrollIntoViewIfNeeded();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'locks.png') });
  await dialog.getByLabel('/trunk/b.txt').check();
  await dialog.getByRole('button', { name: 'Remove selected locks…' }).click();
  let confirm = page.getByRole('dialog', { name: 'Remove this lock?' });
  await confirm.getByText('Remove the locks on /trunk/b.txt (alice)?', { exact: false }).waitFor();
  await confirm.getByRole('button', { name: 'Cancel' }).click();
  assert.equal((await post({ action: 'locks', name: 'hist' })).data.total, 1);
  await dialog.getByRole('button', { name: 'Remove selected locks…' }).click();
  confirm = page.getByRole('dialog', { name: 'Remove this lock?' });
  await confirm.getByRole('button', { name: 'Remove lock' }).click();
  await dialog.getByText('No file is locked.').waitFor();
  assert.equal((await post({ action: 'locks', name: 'hist' })).data.total, 0);
  const record = (await post({ action: 'audit', name: 'hist', limit: '1' })).data.records[0];
  assert.deepEqual([record.action, record.changes.locks.removed], ['lock_remove', [{ path: '/trunk/b.txt', owner: 'alice' }]]);
  assert.ok(svn(['rm', '-m', 'gone', `${url('hist')}/trunk/b.txt`], alice));
  await dialog.getByRole('button', { name: 'Cancel' }).click();
});

test('disk use: the totals at the top, the repositories largest first on request', async () => {
  await page.getByRole('button', { name: 'Disk use' }).click();
  const view = page.locator('#usage-view');
  await view.getByText(/^\d+(\.\d)? (KiB|MiB) in \d+ repositories$/).waitFor();
  await view.getByRole('button', { name: 'Largest first' }).click();
  const sizes = await view.locator('#usage tbody td.size').allTextContents();
  const bytes = sizes.map((s) => parseFloat(s) * { bytes: 1, KiB: 1024, MiB: 1 << 20 }[s.split(' ')[1]]);
  assert.deepEqual(bytes, [...bytes].sort((a, b) => b - a));
  assert.equal(await view.getByRole('button', { name: 'Largest first' }).getAttribute('aria-pressed'), 'true');
  await page.screenshot({ path: path.join(SHOTS_DIR, 'usage.png') });
  await page.getByRole('button', { name: 'Repositories' }).click();
  assert.equal(await view.isVisible(), false);
});

// ---- Schedules ----

// svn-admin "scheduled" as the server's user, by the clock `when` (ms):
// its exit status (once the server's own call each minute, if under way,
// let it run).
function scheduled(when) {
  const now = new Date(when).toISOString().replace(/\.\d+Z$/, 'Z');
  const admin = path.join(SANDBOX_DIR, 'ui/svn-admin');
  const args = ['scheduled', '--now', now];
  for (;;) {
    const run = process.getuid() === 0
      ? spawnSync('setpriv', ['--reuid=www-data', '--regid=www-data', '--clear-groups', admin, ...args], { encoding: 'utf8' })
      : spawnSync(admin, args, { encoding: 'utf8' });
    if (!/another run is under way/.test(run.stdout)) return run.status;
    spawnSync('sleep', ['0.2']);
  }
}

test('a schedule set in the edit dialog, and a banner of its failed backup until dismissed', async () => {
  assert.equal((await post({ action: 'add', name: 'nightly', anon: 'none', layout: 'standard', accounts: '[]' })).success, true);
  await page.goto('/');
  let dialog = await edit('nightly');
  const part = dialog.getByRole('group', { name: 'Schedule' });
  await part.getByText('No good backup yet.').waitFor();
  await part.getByLabel('Follow the default schedule').uncheck();
  await part.getByLabel('Back up on a schedule').check();
  await part.getByLabel('Hours between backups').fill('24');
  const later = new Date(Date.now() + 12 * 3600e3);  // the scheduler of the test's server leaves it
  const at = [later.getHours(), later.getMinutes()].map((n) => String(n).padStart(2, '0')).join(':');
  await part.getByLabel('First backup of the day at').fill(at);
  await part.getByLabel('Backups to keep').fill('3');
  await part.getByRole('button', { name: 'Save schedule' }).click();
  await page.getByText('The schedule of “nightly” is saved.').waitFor();
  await part.getByText(/^Next scheduled backup: /).waitFor();
  const shown = (await get({ action: 'schedule_show', name: 'nightly' })).data;
  assert.deepEqual(shown, { every: 24, at, keep: 3, kind: 'hotcopy', verify: false, own: true });
  await dialog.getByRole('button', { name: 'Cancel' }).click();

  // Its backups fail (a damaged repository): the banner says so, and the row.
  asServer('rm', [path.join(SANDBOX_DIR, 'repo/nightly/db/current')]);
  assert.equal(scheduled(Date.now() + 25 * 3600e3), 1);
  // The banner is asked for after each load of the list.
  const alerted = () => page.waitForResponse((r) => r.url().includes('action=backup_alerts'));
  await page.goto('/');
  const banner = page.getByRole('region', { name: 'Backups need attention' });
  await banner.getByText('“nightly”: the backup failed').waitFor();
  await page.getByLabel('Find by name').fill('nightly');
  await page.getByRole('button', { name: 'Find', exact: true }).click();
  await page.getByRole('row', { name: /nightly/ }).getByText('last backup failed').waitFor();
  await page.screenshot({ path: path.join(SHOTS_DIR, 'alerts.png') });
  await banner.getByRole('button', { name: 'Dismiss' }).click();
  let answered = alerted();
  await page.reload();
  await answered;
  await page.waitForTimeout(200);
  assert.equal(await banner.isVisible(), false);
  // A newer failure brings it back.
  assert.equal(scheduled(Date.now() + 49 * 3600e3), 1);
  answered = alerted();
  await page.reload();
  await answered;
  await banner.getByText('“nightly”: the backup failed').waitFor();

  // The default schedule: one address for mails, nothing a header could take for more.
  await page.getByRole('button', { name: 'Default schedule…' }).click();
  dialog = page.getByRole('dialog', { name: 'Default schedule' });
  await dialog.getByLabel('Mail failed and overdue backups to').fill('ops@example.com, spy@example.net');
  await dialog.getByRole('button', { name: 'Save' }).click();
  await dialog.getByText('Give one mail address, such as admin@example.com.').waitFor();
  await dialog.getByLabel('Mail failed and overdue backups to').fill('ops@example.com');
  await dialog.getByRole('button', { name: 'Save' }).click();
  await page.getByText('The default schedule is saved.').waitFor();
  assert.equal((await get({ action: 'schedule_show', all: 'yes' })).data.notify, 'ops@example.com');
});

test('the page ran under its policy without an error', () => {
  assert.deepEqual(problems, []);
});
