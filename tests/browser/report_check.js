// Loads the index pages of two split reports in headless Chromium, follows the page links and
// checks what the browser rendered. Arguments: chromium path, report folder, screenshot folder
// (may be empty).
const { chromium } = require('playwright-core');
const path = require('path');

const [exe, dir, shots] = process.argv.slice(2);
let failures = 0;
function check(ok, what) {
  console.log((ok ? 'ok   ' : 'FAIL ') + what);
  if (!ok) failures++;
}

async function frameState(page) {
  const frame = page.frame({ url: /_\d{3}\.htm$/ });
  await frame.waitForLoadState();
  return frame.evaluate(() => ({
    url: location.href,
    titles: Array.from(document.querySelectorAll('#tit')).map((t) => t.textContent),
    headings: Array.from(document.querySelectorAll('td[id=h][colspan]')).map((t) => t.textContent),
    rows: document.querySelectorAll('tr').length,
    // The header row of each table on the page.
    headers: Array.from(document.querySelectorAll('table')).map((t) =>
      Array.from(t.rows[0] ? t.rows[0].cells : []).map((c) => c.textContent).join('|')),
    scripts: document.querySelectorAll('script').length,
    bodyText: document.body.innerText,
  }));
}

async function clickPage(page, number) {
  const frameWait = page.waitForEvent('framenavigated', (f) => f !== page.mainFrame());
  await page.click(`a#a${number - 1}`);
  await frameWait;
}

(async () => {
  const browser = await chromium.launch({
    executablePath: exe,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--no-first-run',
           '--disable-component-update', '--disable-sync', '--allow-file-access-from-files'],
  });
  const context = await browser.newContext({ viewport: { width: 1100, height: 700 } });
  const page = await context.newPage();
  const dialogs = [];
  page.on('dialog', (d) => { dialogs.push(d.message()); d.dismiss(); });

  // Differences report: three pages.
  await page.goto('file://' + path.join(dir, 'diff.htm'));
  const links = await page.$$eval('a', (as) => as.map((a) => [a.textContent, a.className]));
  check(links.length >= 3 && links.every((l, i) => l[0] === String(i + 1) && l[1] === (i ? '' : 'c')),
        'index page links 1, 2, 3 ..., the first marked: ' + JSON.stringify(links));
  let s = await frameState(page);
  check(s.url.endsWith('diff_000.htm'), 'frame starts on page 000');
  check(s.titles.includes('Files and folders differences: before <b> vs after'),
        'title with the snapshot names rendered as text: ' + JSON.stringify(s.titles));
  check(s.headers.includes('Name|Data|Size|Info'), 'files header row: ' + JSON.stringify(s.headers));
  check(s.headings.length > 0 && s.headings.every((h) => h.includes('\\')), 'folder headings on page 1');
  check(s.rows >= 10000, 'page 1 holds at least the page limit of rows: ' + s.rows);
  if (shots) await page.screenshot({ path: path.join(shots, 'report_differences.png') });

  await clickPage(page, 2);
  s = await frameState(page);
  check(s.url.endsWith('diff_001.htm'), 'link 2 loads page 001');
  check(s.titles.length === 0 && JSON.stringify(s.headers) === '["Name|Data|Size|Info"]',
        'continuation page repeats the header, no title');
  const marked = await page.$$eval('a.c', (as) => as.map((a) => a.textContent));
  check(JSON.stringify(marked) === '["2"]', 'link 2 is marked: ' + JSON.stringify(marked));

  await clickPage(page, 3);
  s = await frameState(page);
  check(s.url.endsWith('diff_002.htm'), 'link 3 loads page 002');
  const all = [];
  for (let n = 1; n <= links.length; n++) {
    await clickPage(page, n);
    all.push(await frameState(page));
  }
  const text = all.map((x) => x.bodyText).join('\n');
  check(text.includes('<script>alert(1)<.txt'), 'hostile file name shown as text');
  check(text.includes('odd & <names>'), 'hostile folder name shown as text');
  check(all.every((x) => x.scripts === 0), 'no script element in any page');
  check(text.includes('gone.txt') && text.includes('added & new.txt'), 'deleted and added files listed');
  const headingsSeen = all.flatMap((x) => x.headings);
  check(new Set(headingsSeen).size === headingsSeen.length, 'no group split across pages');

  // Data report of the first snapshot: two pages.
  await page.goto('file://' + path.join(dir, 'data.htm'));
  s = await frameState(page);
  check(s.titles.includes('Files and folders data - before <b>'), 'data report title: ' + JSON.stringify(s.titles));
  check(s.headers.includes('Name|Data|Size'), 'data header row: ' + JSON.stringify(s.headers));
  await clickPage(page, 2);
  s = await frameState(page);
  check(s.url.endsWith('data_001.htm') && s.rows > 1, 'data report page 2');
  await clickPage(page, 1);
  if (shots) await page.screenshot({ path: path.join(shots, 'report_data.png') });

  check(dialogs.length === 0, 'no script ran: ' + JSON.stringify(dialogs));
  await browser.close();
  if (failures) {
    console.log(failures + ' check(s) failed');
    process.exit(1);
  }
  console.log('all report checks passed');
})().catch((e) => { console.error(e); process.exit(2); });
