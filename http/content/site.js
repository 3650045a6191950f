// The site view: a building's gateways from a site file, their live states,
// backing them all up, changing the file's rows, each gateway's history and
// the handover reports. Every call goes through the varnkit window's native_site*
// functions (Promises of JSON text or of a run's integer result); every text
// from the file, the gateways or the history goes into the page as text.
(function () {
  'use strict';

  const page = window.VarnkitPage;
  const { element } = page;
  const $ = (id) => document.getElementById(id);
  const VIEW_KEY = 'varnkit.view';
  const SITE_KEY = 'varnkit.site';
  const collator = new Intl.Collator(undefined, { numeric: true, sensitivity: 'base' });

  let site = null; // the list document of the open site
  let statuses = new Map(); // name → its row of the live status
  let checking = false;
  let statusQuery = 0;
  let sortKey = '';
  let sortDirection = 1;
  let chosen = ''; // the name of the chosen row
  let editing = null; // null: no form; '': adding; else the name of the row edited
  let historyOf = '';
  let picked = []; // versions ticked in the history, oldest tick first

  const text = (value) => (value === null || value === undefined ? '' : String(value));
  const shown = (value) => (text(value) === '' ? '–' : text(value));
  const array = (value) => (Array.isArray(value) ? value.filter((v) => v !== null && v !== undefined) : []);
  const sitePath = () => text(site.site.path);
  const siteName = () => text(site.site.name) || sitePath();
  const has = (name) => typeof window[name] === 'function';

  // The live row of a gateway, unless it was asked for another address than the file's now.
  function liveRow(gateway) {
    const live = statuses.get(gateway.name);
    return live && live.address === gateway.address ? live : null;
  }

  function liveState(gateway) {
    if (checking) return { state: 'checking', text: 'checking…' };
    const live = liveRow(gateway);
    if (!live) return { state: 'unknown', text: 'not checked' };
    const state = text(live.state) || 'unknown';
    const detail = text(live.detail);
    // "no answer within 15 s" says the state itself.
    const said = detail === '' ? state : (detail.startsWith(state) ? detail : `${state}: ${detail}`);
    return { state: live.state === 'ok' ? 'ok' : 'problem', text: said };
  }

  const pinText = (g) => (g.pinned === true
    ? [g.model, g.serial].map(text).filter((t) => t !== '').join(' ') || 'pinned' : 'not pinned');

  const COLUMNS = [
    { key: 'name', label: 'Name', value: (g) => g.name },
    { key: 'address', label: 'Address', value: (g) => g.address },
    { key: 'state', label: 'State', value: (g) => liveState(g).text },
    { key: 'pin', label: 'Pin', value: pinText },
    { key: 'firmware', label: 'Firmware', value: (g) => text(liveRow(g)?.firmware) || g.firmware },
    { key: 'last_backup', label: 'Last backup', value: (g) => g.last_backup },
    { key: 'changed', label: 'Changed', value: (g) => g.changed },
    { key: 'failing_since', label: 'Failing since',
      value: (g) => (text(g.failing_since) === '' ? '' : `${text(g.failing_since)}${text(g.detail) ? ` (${text(g.detail)})` : ''}`) },
    { key: 'notes', label: 'Notes', value: (g) => g.notes },
  ];

  // ------------------------------------------------------------ answers and messages

  // A bridge call's JSON answer as an object; { error } when there is no usable one.
  async function ask(name, ...args) {
    if (!has(name)) return { error: 'This needs the varnkit window.' };
    try {
      const answer = JSON.parse(await window[name](...args));
      return answer && typeof answer === 'object' ? answer : { error: 'The varnkit window gave no usable answer.' };
    } catch (e) {
      return { error: `The varnkit window gave no usable answer (${e && e.message ? e.message : String(e)}).` };
    }
  }

  function showMessage(node, kind, message) {
    node.hidden = message === '';
    node.dataset.kind = kind;
    node.textContent = message;
  }

  // The site file's own problems, one line each, under the message.
  function showErrors(errors) {
    $('site-errors').replaceChildren(...errors.map((line) => element('li', text(line))));
    $('site-errors').hidden = errors.length === 0;
  }

  const say = (kind, message) => {
    $('site-outcome').textContent = message;
    $('site-outcome').dataset.kind = kind;
  };

  // ------------------------------------------------------------ views

  function showView(which) {
    for (const name of ['gateway', 'site']) {
      const selected = name === which;
      $(`tab-${name}`).setAttribute('aria-selected', String(selected));
      $(`tab-${name}`).tabIndex = selected ? 0 : -1;
      $(`view-${name}`).hidden = !selected;
    }
    try {
      window.localStorage.setItem(VIEW_KEY, which);
    } catch (e) {
      // Not kept; the page opens on the gateway view next time.
    }
    if (which === 'site') showRecent();
  }

  function tabKeys(event) {
    const order = ['gateway', 'site'];
    const now = order.indexOf(event.target.id.replace('tab-', ''));
    const next = { ArrowRight: now + 1, ArrowLeft: now - 1, Home: 0, End: order.length - 1 }[event.key];
    if (next === undefined) return;
    event.preventDefault();
    const which = order[(next + order.length) % order.length];
    showView(which);
    $(`tab-${which}`).focus();
  }

  // ------------------------------------------------------------ the site and its table

  async function showRecent() {
    const answer = await ask('native_siteRecent');
    const paths = array(answer.sites).filter((p) => typeof p === 'string');
    $('site-recent').replaceChildren(...paths.map((path) => {
      const item = element('li');
      const button = element('button', path, 'link-button');
      button.type = 'button';
      button.addEventListener('click', () => openSite(ask('native_siteOpen', path)));
      item.append(button);
      return item;
    }));
    $('site-recent-block').hidden = paths.length === 0;
  }

  // Shows a list document; false (and the reason shown) for anything else.
  function showList(answer, fresh) {
    if (typeof answer.error === 'string' || Array.isArray(answer.errors)) {
      showMessage($('site-message'), 'error', typeof answer.error === 'string' ? answer.error
        : 'The site file has errors; fix them in the file and open it again:');
      showErrors(array(answer.errors));
      return false;
    }
    if (!answer.site || typeof answer.site !== 'object' || !Array.isArray(answer.gateways)) {
      showMessage($('site-message'), 'error', 'The varnkit window gave no usable answer.');
      showErrors([]);
      return false;
    }
    showMessage($('site-message'), '', '');
    showErrors([]);
    if (fresh || !site || text(answer.site.path) !== sitePath()) {
      statuses = new Map();
      chosen = '';
      sortKey = '';
      closeForm();
      closeHistory();
      say('', '');
    }
    site = { site: answer.site, gateways: answer.gateways.filter((g) => g && typeof g === 'object') };
    $('site-panel').hidden = false;
    $('site-name').textContent = siteName();
    $('site-path').textContent = sitePath();
    $('site-installer').textContent = text(site.site.installer) === '' ? '' : `Installer: ${text(site.site.installer)}`;
    $('site-installer').hidden = text(site.site.installer) === '';
    $('site-notes').replaceChildren(...array(site.site.notes).map((note) => element('li', text(note))));
    showRows();
    return true;
  }

  async function openSite(asked) {
    showMessage($('site-message'), 'busy', 'Opening the site…');
    showErrors([]);
    const answer = await asked;
    if (answer.cancelled === true) {
      showMessage($('site-message'), '', '');
      return;
    }
    if (!showList(answer, true)) return;
    try {
      window.localStorage.setItem(SITE_KEY, sitePath());
    } catch (e) {
      // Not kept; the recent sites still name it.
    }
    showRecent();
    refresh();
  }

  function sortedGateways() {
    const column = COLUMNS.find((c) => c.key === sortKey);
    if (!column) return site.gateways;
    // Empty values go last either way; equal ones keep the file's order.
    return site.gateways.map((gateway, index) => ({ gateway, index, value: text(column.value(gateway)) }))
      .sort((a, b) => (a.value === '') - (b.value === '') || sortDirection * collator.compare(a.value, b.value)
        || a.index - b.index)
      .map((entry) => entry.gateway);
  }

  function showHead() {
    for (const [index, column] of COLUMNS.entries()) {
      const sorted = column.key === sortKey;
      $('site-head').children[index].setAttribute('aria-sort',
        sorted ? (sortDirection > 0 ? 'ascending' : 'descending') : 'none');
    }
  }

  function showRows() {
    const body = $('site-rows');
    const hadFocus = body.contains(document.activeElement);
    const gateways = sortedGateways();
    if (!gateways.some((g) => g.name === chosen)) chosen = '';
    body.replaceChildren(...gateways.map((gateway) => {
      const row = element('tr');
      row.dataset.name = text(gateway.name);
      row.dataset.state = liveState(gateway).state;
      for (const column of COLUMNS) {
        const cell = element('td', shown(column.value(gateway)));
        cell.dataset.column = column.key;
        if (text(column.value(gateway)) === '') cell.classList.add('empty');
        row.append(cell);
      }
      return row;
    }));
    $('site-empty').hidden = gateways.length > 0;
    showHead();
    choose(chosen || (gateways[0] ? gateways[0].name : ''), hadFocus);
  }

  function rowNamed(name) {
    return [...$('site-rows').rows].find((row) => row.dataset.name === name) || null;
  }

  const gatewayNamed = (name) => (site ? site.gateways.find((g) => g.name === name) : undefined);

  // One row is chosen: it takes the focus from the keyboard (the others are reached by the arrows).
  function choose(name, focus) {
    chosen = name;
    for (const row of $('site-rows').rows) {
      const it = row.dataset.name === name;
      row.tabIndex = it ? 0 : -1;
      if (it) row.setAttribute('aria-current', 'true'); else row.removeAttribute('aria-current');
    }
    if (focus && rowNamed(name)) rowNamed(name).focus();
    $('site-chosen-name').textContent = name || 'none';
    showButtons();
  }

  function sortBy(key) {
    sortDirection = sortKey === key ? -sortDirection : 1;
    sortKey = key;
    showRows();
  }

  function rowKeys(event) {
    const rows = [...$('site-rows').rows];
    const now = rows.findIndex((row) => row.dataset.name === chosen);
    const next = { ArrowDown: now + 1, ArrowUp: now - 1, Home: 0, End: rows.length - 1, PageDown: now + 10, PageUp: now - 10 }[event.key];
    if (event.key === 'Enter') {
      event.preventDefault();
      openGateway(chosen);
    } else if (next !== undefined && rows.length > 0) {
      event.preventDefault();
      choose(rows[Math.max(0, Math.min(rows.length - 1, next))].dataset.name, true);
    }
  }

  // Asks the live state of every gateway; the rows say "checking…" meanwhile. Only the latest answer counts.
  async function refresh() {
    if (!site) return;
    const path = sitePath();
    const query = ++statusQuery;
    checking = true;
    showRows();
    const answer = await ask('native_siteStatus', path);
    if (query !== statusQuery || !site || sitePath() !== path) return;
    checking = false;
    statuses = new Map(array(answer.gateways).filter((g) => typeof g === 'object').map((g) => [g.name, g]));
    if (!Array.isArray(answer.gateways)) {
      say('error', `The states could not be checked: ${text(answer.error) || 'the varnkit window gave no usable answer.'}`);
    }
    showRows();
  }

  // Reads the site file again after a run; the live states stay.
  async function relist(path) {
    const answer = await ask('native_siteList', path);
    if (site && sitePath() === path) showList(answer, false);
  }

  function showButtons() {
    const busy = page.isBusy();
    const none = !site || chosen === '';
    $('site-open').disabled = !has('native_siteOpen');
    $('site-create').disabled = !has('native_siteCreate');
    $('site-backup-all').disabled = busy || !has('native_siteBackupAll');
    $('site-refresh').disabled = checking || !has('native_siteStatus');
    $('site-add').disabled = !has('native_siteChange');
    $('site-report').disabled = !has('native_siteReport');
    $('site-row-open').disabled = none;
    $('site-row-history').disabled = none || !has('native_siteLog');
    for (const id of ['site-row-edit', 'site-row-pin', 'site-row-remove']) $(id).disabled = none || !has('native_siteChange');
    $('site-row-report').disabled = none || !has('native_siteReport');
    for (const button of document.querySelectorAll('.restore-version')) button.disabled = busy || !has('native_siteRestore');
  }

  function openGateway(name) {
    const gateway = gatewayNamed(name);
    if (!gateway) return;
    showView('gateway');
    page.useSiteGateway({ path: sitePath(), name: text(gateway.name), address: text(gateway.address), site: siteName() });
    const first = document.querySelector('button[data-action]:not(:disabled)');
    (first || $('address')).focus();
  }

  // ------------------------------------------------------------ runs, changes and reports

  async function backupAll() {
    if (!site || page.isBusy()) return;
    const path = sitePath();
    const name = siteName();
    page.setBusy('siteBackup');
    say('busy', 'Starting the backup of every gateway…');
    const outcome = await page.runTool('siteBackup', () => window.native_siteBackupAll(path), (o) => say(o.kind, o.text));
    page.setBusy(null);
    say(outcome.kind, outcome.text);
    page.logActivity('siteBackup', name, outcome, outcome.log);
    await relist(path);
  }

  async function report(names) {
    say('busy', 'Making the report…');
    const path = sitePath();
    const answer = await page.reportAnswer(() => window.native_siteReport(path, JSON.stringify(names)));
    say(answer.kind, answer.text);
  }

  // Applies one change to the site file; resolves to { error }, { cancelled } or {} once the new list is shown.
  async function change(operation) {
    const answer = await ask('native_siteChange', sitePath(), JSON.stringify(operation));
    if (answer.cancelled === true || typeof answer.error === 'string') return answer;
    return showList(answer, false) ? {} : { error: $('site-message').textContent };
  }

  async function rowChange(op) {
    const name = chosen;
    say('busy', op === 'pin' ? `Pinning ${name}: asking the gateway who it is…` : `Removing ${name}…`);
    const answer = await change({ op, name });
    const pinned = gatewayNamed(name);
    if (typeof answer.error === 'string') say('error', answer.error);
    else if (answer.cancelled) say('', '');
    else if (op === 'pin') say('ok', `${name} is pinned: ${pinned ? pinText(pinned) : 'as it answered'}.`);
    else say('ok', `${name} was removed from the site file; the history keeps its versions.`);
    if (op === 'pin' && rowNamed(name)) choose(name, true);
  }

  function openForm(name) {
    const gateway = name === '' ? { name: '', address: '', notes: '' } : gatewayNamed(name);
    if (!gateway) return;
    editing = name;
    $('site-form-title').textContent = name === '' ? 'Add a gateway' : `Edit ${name}`;
    $('site-form-name').value = text(gateway.name);
    $('site-form-address').value = text(gateway.address);
    $('site-form-notes').value = text(gateway.notes);
    showMessage($('site-form-error'), 'error', '');
    $('site-form').hidden = false;
    $('site-form-name').focus();
  }

  function closeForm() {
    editing = null;
    $('site-form').hidden = true;
  }

  async function saveForm(event) {
    event.preventDefault();
    if (editing === null) return;
    const name = $('site-form-name').value.trim();
    const checked = window.VarnkitAddress.check($('site-form-address').value);
    const notes = $('site-form-notes').value.trim();
    const problem = name === '' ? 'Enter the gateway\'s name.' : (checked.ok ? '' : checked.message);
    showMessage($('site-form-error'), 'error', problem);
    if (problem) return;
    $('site-form-save').disabled = true;
    const answer = await change(editing === '' ? { op: 'add', name, address: checked.address, notes }
      : { op: 'edit', name: editing, new_name: name, address: checked.address, notes });
    $('site-form-save').disabled = false;
    showMessage($('site-form-error'), 'error', text(answer.error));
    if (answer.error !== undefined || answer.cancelled) return;
    closeForm();
    if (rowNamed(name)) choose(name, true);
  }

  // ------------------------------------------------------------ history

  function closeHistory() {
    historyOf = '';
    $('site-history').hidden = true;
  }

  async function showHistory(name) {
    historyOf = name;
    picked = [];
    const path = sitePath();
    $('site-history').hidden = false;
    $('site-history-title').textContent = `History of ${name}`;
    $('site-versions').replaceChildren();
    $('site-diff-view').hidden = true;
    $('site-diff').disabled = true;
    say('', '');
    $('site-restore-outcome').textContent = '';
    showMessage($('site-history-message'), 'busy', 'Reading the history…');
    const answer = await ask('native_siteLog', path, name);
    if (historyOf !== name || !site || sitePath() !== path) return;
    const versions = array(answer.versions).filter((v) => typeof v === 'object' && typeof v.version === 'string');
    if (typeof answer.error === 'string') showMessage($('site-history-message'), 'error', answer.error);
    else showMessage($('site-history-message'), '', versions.length === 0 ? `No backup of ${name} in the history yet.` : '');
    $('site-versions').replaceChildren(...versions.map((version, index) => versionItem(name, version, index)));
    $('site-history').scrollIntoView({ block: 'nearest' });
    showButtons();
  }

  function versionItem(name, version, index) {
    const item = element('li');
    item.dataset.version = version.version;
    const label = element('label', undefined, 'site-version');
    const tick = element('input');
    tick.type = 'checkbox';
    tick.addEventListener('change', () => pick(version.version, index, tick.checked));
    label.append(tick, element('span', `${shown(version.short)} · ${shown(version.time)}`, 'site-version-id'));
    const restore = element('button', 'Restore this version', 'plain-button restore-version');
    restore.type = 'button';
    restore.id = `restore-${index}`;
    restore.setAttribute('aria-describedby', `version-${index}`);
    restore.addEventListener('click', () => restoreVersion(name, version.version));
    const summary = element('p', shown(version.summary), 'site-version-summary');
    summary.id = `version-${index}`;
    const changes = element('ul', undefined, 'backup-changes');
    changes.append(...array(version.changes).map((line) => element('li', text(line))));
    item.append(label, restore, summary, changes);
    return item;
  }

  // Two ticks at most: a third replaces the oldest tick.
  function pick(version, index, on) {
    picked = picked.filter((p) => p.version !== version);
    if (on) picked.push({ version, index });
    while (picked.length > 2) {
      const dropped = picked.shift();
      $('site-versions').children[dropped.index].querySelector('input').checked = false;
    }
    $('site-diff').disabled = picked.length !== 2 || !has('native_siteDiff');
  }

  async function showDifference() {
    if (picked.length !== 2) return;
    // The list is newest first: the later place is the older version.
    const [older, newer] = [...picked].sort((a, b) => b.index - a.index);
    const name = historyOf;
    showMessage($('site-history-message'), 'busy', 'Comparing the versions…');
    const answer = await ask('native_siteDiff', sitePath(), name, older.version, newer.version);
    if (historyOf !== name) return;
    if (typeof answer.error === 'string' || !Array.isArray(answer.configurations)) {
      showMessage($('site-history-message'), 'error', text(answer.error) || 'The varnkit window gave no usable answer.');
      return;
    }
    showMessage($('site-history-message'), '', '');
    $('site-diff-view').replaceChildren(...page.comparisonContents(answer));
    $('site-diff-view').hidden = false;
  }

  async function restoreVersion(name, version) {
    if (page.isBusy()) return;
    const path = sitePath();
    const show = (o) => {
      $('site-restore-outcome').textContent = o.text;
      $('site-restore-outcome').dataset.kind = o.kind;
    };
    page.setBusy('siteRestore');
    show({ kind: 'busy', text: 'Waiting for your answer in the window.' });
    const outcome = await page.runTool('siteRestore', () => window.native_siteRestore(path, name, version), show);
    page.setBusy(null);
    show(outcome);
    page.logActivity('siteRestore', name, outcome, outcome.log);
    await relist(path);
  }

  // ------------------------------------------------------------ start

  function init() {
    $('site-head').replaceChildren(...COLUMNS.map((column) => {
      const head = element('th');
      head.scope = 'col';
      const button = element('button', column.label, 'sort-button');
      button.type = 'button';
      button.addEventListener('click', () => sortBy(column.key));
      head.append(button);
      return head;
    }));
    for (const name of ['gateway', 'site']) {
      $(`tab-${name}`).addEventListener('click', () => showView(name));
      $(`tab-${name}`).addEventListener('keydown', tabKeys);
    }
    $('site-gateway-back').addEventListener('click', () => {
      showView('site');
      if (rowNamed(chosen)) rowNamed(chosen).focus();
    });
    $('site-open').addEventListener('click', () => openSite(ask('native_siteOpen', '')));
    $('site-create').addEventListener('click', () => openSite(ask('native_siteCreate')));
    $('site-refresh').addEventListener('click', refresh);
    $('site-backup-all').addEventListener('click', backupAll);
    $('site-add').addEventListener('click', () => openForm(''));
    $('site-report').addEventListener('click', () => report([]));
    $('site-row-open').addEventListener('click', () => openGateway(chosen));
    $('site-row-history').addEventListener('click', () => showHistory(chosen));
    $('site-row-edit').addEventListener('click', () => openForm(chosen));
    $('site-row-pin').addEventListener('click', () => rowChange('pin'));
    $('site-row-remove').addEventListener('click', () => rowChange('remove'));
    $('site-row-report').addEventListener('click', () => report([chosen]));
    $('site-form').addEventListener('submit', saveForm);
    $('site-form-cancel').addEventListener('click', closeForm);
    $('site-form').addEventListener('keydown', (event) => {
      if (event.key !== 'Escape') return;
      closeForm();
      if (rowNamed(chosen)) rowNamed(chosen).focus();
    });
    $('site-diff').addEventListener('click', showDifference);
    const rows = $('site-rows');
    rows.addEventListener('keydown', rowKeys);
    rows.addEventListener('click', (event) => {
      const row = event.target.closest('tr');
      if (row) choose(row.dataset.name, true);
    });
    rows.addEventListener('dblclick', (event) => {
      const row = event.target.closest('tr');
      if (row) openGateway(row.dataset.name);
    });
    document.addEventListener('varnkit-busy', showButtons);
    showButtons();

    // A reload (the window does one when its server restarts) comes back to the same view and site.
    let stored = {};
    try {
      stored = { view: window.localStorage.getItem(VIEW_KEY), path: window.localStorage.getItem(SITE_KEY) };
    } catch (e) {
      // Nothing kept: the gateway view.
    }
    if (stored.view === 'site') showView('site');
    if (stored.path && has('native_siteList')) {
      ask('native_siteList', stored.path).then((answer) => {
        if (!site && showList(answer, true)) refresh();
      });
    }
  }

  init();
})();
