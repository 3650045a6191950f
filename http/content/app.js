// The page's behaviour: shows the kit's version, checks and remembers the
// gateway address, runs the actions through the functions that the varnkit
// window puts on the page, and shows what a backup holds or what changed
// between two (native_showBackup, native_compareBackups: Promises of JSON text). Each call blocks until the console tool has
// ended and returns an integer: -1 cancelled or not started, -2 stopped before
// the end, -3 declined at the confirmation, -4 refused (firmware for another
// model), 0 done, 1 failed, 2 not started because values were missing. Before
// each action, and when the address is checked, native_gatewayStatus (a
// Promise of JSON text) fills the gateway card. A gateway opened from the site
// view (site.js, which uses what this script hands it as window.VarnkitPage)
// runs its actions through native_siteAction, which checks the gateway's pin.
(function () {
  'use strict';

  const STORAGE_KEY = 'varnkit.gatewayAddress';
  const ACTIVITY_KEY = 'varnkit.activity';
  const RECENT_KEY = 'varnkit.recentAddresses';
  const MAX_RECENT = 5;
  const MAX_ACTIVITY = 50;

  const ACTIONS = {
    backup: {
      native: 'native_actionBackup',
      title: 'Back up',
      done: 'Done: the backup archive is in the chosen folder.',
      cancelled: 'Cancelled or not started: no folder was chosen, or the console tool could not start.',
      stopped: 'Stopped before the end: the backup is not complete. Run it again to complete it.',
    },
    restore: {
      native: 'native_actionRestore',
      title: 'Restore',
      done: 'Done: the configuration was restored onto the gateway.',
      cancelled: 'Cancelled or not started: no file was chosen, or the console tool could not start.',
      stopped: 'Stopped before the end: the gateway may be partly restored. Run it again to complete it.',
    },
    firmware: {
      native: 'native_actionFirmwareUpgrade',
      title: 'Upgrade firmware',
      done: 'Done: the firmware was uploaded and the upgrade started.',
      cancelled: 'Cancelled or not started: no file was chosen, or the console tool could not start.',
      stopped: 'Stopped before the end: the gateway may be partly upgraded. Run it again to complete it.',
    },
    channel: {
      native: 'native_actionSetupChannel',
      title: 'Set up channel',
      done: 'Done: the channel setup was installed on the gateway.',
      cancelled: 'Cancelled or not started: no file was chosen, or the console tool could not start.',
      stopped: 'Stopped before the end: the channel may be partly set up. Run it again to complete it.',
      choice: true,
    },
    export: {
      native: 'native_actionExportChannel',
      title: 'Export CSV',
      done: 'Done: the CSV file was written.',
      cancelled: 'Cancelled or not started: no file was chosen, or the console tool could not start.',
      stopped: 'Stopped before the end: the CSV file was left as it was.',
      choice: true,
    },
  };

  // The site view's runs are listed under Activity beside the actions.
  const RUNS = {
    ...ACTIONS,
    siteBackup: {
      title: 'Back up all',
      done: 'Done: every gateway of the site was backed up.',
      cancelled: 'Cancelled or not started: the console tool could not start.',
      stopped: 'Stopped before the end: not every gateway was backed up. Run it again to complete it.',
    },
    siteRestore: {
      title: 'Restore a version',
      done: 'Done: the version was restored onto the gateway.',
      cancelled: 'Cancelled or not started: the console tool could not start.',
      stopped: 'Stopped before the end: the gateway may be partly restored. Run it again to complete it.',
    },
  };

  const $ = (id) => document.getElementById(id);
  const addressInput = $('address');
  const addressError = $('address-error');
  const buttons = {};
  let busy = false;
  let statusQuery = 0;
  // A gateway opened from a site ({ path, name, address, site }): its actions go through the site, which checks its pin.
  let siteGateway = null;

  function describe(action, result) {
    switch (result) {
      case 0: return { kind: 'ok', text: action.done };
      case 1: return { kind: 'error', text: 'Failed. The console window shows the details.' };
      case 2: return { kind: 'warn', text: 'Not started: the console tool was missing values.' };
      case -1: return { kind: 'warn', text: action.cancelled };
      case -2: return { kind: 'error', text: action.stopped };
      case -3: return { kind: 'warn', text: 'Not started: you cancelled at the confirmation. Nothing was written to the gateway.' };
      case -4: return { kind: 'error', text: 'Refused: the firmware is for another model. Nothing was sent to the gateway.' };
      default:
        return { kind: 'error', text: `Ended with the unexpected result ${String(result)}. The console window shows the details.` };
    }
  }

  function showOutcome(key, outcome) {
    const line = $(`${key}-outcome`);
    line.textContent = outcome.text;
    line.dataset.kind = outcome.kind;
  }

  const clockTime = (date) => [date.getHours(), date.getMinutes(), date.getSeconds()]
    .map((n) => String(n).padStart(2, '0')).join(':');

  // Activity entries are kept in local storage, newest first, so they survive a restart.
  function storedActivity() {
    try {
      const entries = JSON.parse(window.localStorage.getItem(ACTIVITY_KEY) || '[]');
      return Array.isArray(entries) ? entries.filter((e) => e && RUNS[e.key]).slice(0, MAX_ACTIVITY) : [];
    } catch (e) {
      return [];
    }
  }

  function shownTime(when) {
    const date = new Date(when);
    if (Number.isNaN(date.getTime())) return '';
    const today = new Date().toDateString() === date.toDateString();
    const day = [date.getFullYear(), date.getMonth() + 1, date.getDate()].map((n) => String(n).padStart(2, '0')).join('-');
    return today ? clockTime(date) : `${day} ${clockTime(date)}`;
  }

  function activityItem(entry) {
    const item = document.createElement('li');
    item.dataset.kind = entry.kind;
    const parts = [
      ['activity-time', shownTime(entry.when)],
      ['activity-action', RUNS[entry.key].title],
      ['activity-address', entry.address],
      ['activity-text', entry.text],
    ];
    for (const [name, text] of parts) {
      const span = document.createElement('span');
      span.className = name;
      span.textContent = String(text ?? '');
      item.append(span);
    }
    if (typeof entry.log === 'string' && entry.log !== '') {
      const show = document.createElement('button');
      show.type = 'button';
      show.className = 'activity-log';
      show.textContent = 'Show log';
      show.title = entry.log;
      show.addEventListener('click', () => {
        if (typeof window.native_showLog !== 'function' || window.native_showLog(entry.log) !== 0) {
          show.textContent = 'Log not found';
          show.disabled = true;
        }
      });
      item.append(show);
    }
    return item;
  }

  function showActivity(entries) {
    $('activity').replaceChildren(...entries.map(activityItem));
    $('activity-empty').hidden = entries.length > 0;
  }

  function logActivity(key, address, outcome, log = '') {
    const entries = [{ when: new Date().toISOString(), key, address, kind: outcome.kind, text: outcome.text, log },
      ...storedActivity()].slice(0, MAX_ACTIVITY);
    try {
      window.localStorage.setItem(ACTIVITY_KEY, JSON.stringify(entries));
    } catch (e) {
      // Not kept; this session still shows it.
    }
    const list = $('activity');
    list.prepend(activityItem(entries[0]));
    while (list.children.length > MAX_ACTIVITY) list.lastElementChild.remove();
    $('activity-empty').hidden = true;
  }

  // The log and archive of the run that just ended, from the window; {} without one.
  function lastRun() {
    if (typeof window.native_lastRun !== 'function') return {};
    try {
      const run = JSON.parse(window.native_lastRun());
      return run && typeof run === 'object' ? run : {};
    } catch (e) {
      return {};
    }
  }

  // The outcome the run's own summary tells (its events, through the window): a
  // warning or a failure is never shown as "Done"; the file it wrote is named.
  function toldByRun(key, outcome, ran) {
    if (!['done', 'warnings', 'failed'].includes(ran.result)) return {};
    const archive = typeof ran.archive === 'string' && ran.archive !== '' ? ran.archive : '';
    const warnings = Array.isArray(ran.warnings) ? ran.warnings.filter((w) => typeof w === 'string') : [];
    if (ran.result === 'done' && outcome.result === 0) {
      return { kind: 'ok', text: key === 'backup' && archive ? `Done: the backup archive is ${archive}` : RUNS[key].done };
    }
    const said = warnings.length > 0 ? warnings.join(' ') : String(ran.summary || '');
    const file = archive ? ` The archive is ${archive}` : '';
    return ran.result === 'warnings'
      ? { kind: 'warn', text: `${said}${file}` }
      : { kind: 'error', text: `${said}${file} The run view shows each step.` };
  }

  function showAddressError(message) {
    addressError.textContent = message;
    addressError.hidden = false;
    addressInput.setAttribute('aria-invalid', 'true');
  }

  function clearAddressError() {
    addressError.hidden = true;
    addressError.textContent = '';
    addressInput.removeAttribute('aria-invalid');
  }

  // Local storage can be switched off or full; the address is then only not remembered.
  function remembered() {
    try {
      return window.localStorage.getItem(STORAGE_KEY) || '';
    } catch (e) {
      return '';
    }
  }

  function recentAddresses() {
    try {
      const list = JSON.parse(window.localStorage.getItem(RECENT_KEY) || '[]');
      return Array.isArray(list) ? list.filter((a) => typeof a === 'string').slice(0, MAX_RECENT) : [];
    } catch (e) {
      return [];
    }
  }

  // The recent addresses drop down from the field as a list of our own: a
  // browser's suggestion popup swallows the Enter that checks the gateway.
  const recentList = $('recent-addresses');
  let recentOffered = [];
  let activeRecent = -1;

  function offerRecent(list) {
    recentOffered = list;
    closeRecent();
  }

  function closeRecent() {
    recentList.hidden = true;
    recentList.replaceChildren();
    activeRecent = -1;
    addressInput.setAttribute('aria-expanded', 'false');
    addressInput.removeAttribute('aria-activedescendant');
  }

  // Down arrow: every recent address; typing: those holding the text typed.
  function openRecent(all) {
    const typed = addressInput.value.trim();
    const shown = all ? recentOffered : recentOffered.filter((a) => a !== typed && a.includes(typed));
    closeRecent();
    if (shown.length === 0 || addressInput.readOnly) return;
    recentList.append(...shown.map((address, index) => {
      const option = document.createElement('li');
      option.id = `recent-address-${index}`;
      option.setAttribute('role', 'option');
      option.setAttribute('aria-selected', 'false');
      option.textContent = address;
      // The field keeps the focus; a click takes the address and checks it.
      option.addEventListener('mousedown', (event) => event.preventDefault());
      option.addEventListener('click', () => {
        addressInput.value = address;
        closeRecent();
        $('gateway-form').requestSubmit();
      });
      return option;
    }));
    recentList.hidden = false;
    addressInput.setAttribute('aria-expanded', 'true');
  }

  function moveRecent(step) {
    const options = [...recentList.children];
    activeRecent = (activeRecent + step + options.length + (activeRecent < 0 && step < 0 ? 1 : 0)) % options.length;
    options.forEach((option, index) => option.setAttribute('aria-selected', String(index === activeRecent)));
    addressInput.setAttribute('aria-activedescendant', options[activeRecent].id);
    options[activeRecent].scrollIntoView({ block: 'nearest' });
  }

  // Enter is never taken by the list: with an address picked it takes it, and
  // the form's own submission checks the gateway as always.
  function recentKeys(event) {
    const open = !recentList.hidden;
    if (event.key === 'ArrowDown' || event.key === 'ArrowUp') {
      event.preventDefault();
      if (!open) openRecent(true);
      if (!recentList.hidden) moveRecent(event.key === 'ArrowDown' ? 1 : -1);
    } else if (event.key === 'Escape' && open) {
      event.preventDefault();
      closeRecent();
    } else if (event.key === 'Enter' && open) {
      if (activeRecent >= 0) addressInput.value = recentList.children[activeRecent].textContent;
      closeRecent();
    }
  }

  function remember(address) {
    const recent = [address, ...recentAddresses().filter((a) => a !== address)].slice(0, MAX_RECENT);
    try {
      window.localStorage.setItem(STORAGE_KEY, address);
      window.localStorage.setItem(RECENT_KEY, JSON.stringify(recent));
    } catch (e) {
      // Not remembered; the action runs all the same.
    }
    offerRecent(recent);
  }

  const available = (key) => typeof window[ACTIONS[key].native] === 'function';

  function setBusy(runningKey) {
    busy = runningKey !== null;
    document.body.classList.toggle('busy', busy);
    addressInput.readOnly = busy;
    for (const id of ['channel-number', 'channel-kind', 'export-number', 'export-kind']) $(id).disabled = busy;
    for (const key of Object.keys(ACTIONS)) {
      buttons[key].disabled = busy || !available(key);
      $(`action-${key}`).setAttribute('aria-busy', String(key === runningKey));
    }
    $('check-button').disabled = busy || typeof window.native_gatewayStatus !== 'function';
    $('gateway-report').disabled = busy || typeof window.native_gatewayReport !== 'function';
    $('action-report').setAttribute('aria-busy', String(runningKey === 'report'));
    document.dispatchEvent(new CustomEvent('varnkit-busy'));
  }

  const plainStatusError = (error) =>
    `${String(error).replace(/\.$/, '')}: check the address and that the gateway is powered and on this network.`;

  function showCard(state, message, status) {
    const card = $('gateway-card');
    card.hidden = false;
    card.dataset.state = state;
    $('card-message').textContent = message;
    $('card-fields').hidden = !status;
    if (!status) return;
    const shown = (value) => (typeof value === 'string' && value !== '' ? value : 'not reported');
    $('card-model').textContent = shown(status.model_name);
    $('card-firmware').textContent = shown(status.firmware_version);
    $('card-serial').textContent = shown(status.serial_number);
    $('card-mac').textContent = shown(status.mac);
    $('card-time').textContent = clockTime(new Date());
  }

  // A LUMARO-n has n channels; other models keep all four choices.
  function limitChannels(model) {
    const count = /^LUMARO-([1-4])$/.exec(model);
    for (const id of ['channel-number', 'export-number']) {
      for (const option of $(id).options) option.disabled = count !== null && Number(option.value) > Number(count[1]);
    }
  }

  // Asks the gateway's status and shows it on the card. Resolves to null where
  // the window cannot ask, else to { ok, message }. Only the latest query is shown.
  async function checkGateway(address) {
    if (typeof window.native_gatewayStatus !== 'function') return null;
    const query = ++statusQuery;
    showCard('checking', `Checking the gateway at ${address}…`, null);
    let status;
    try {
      status = JSON.parse(await window.native_gatewayStatus(address));
    } catch (e) {
      status = { error: `The varnkit window gave no usable answer (${e && e.message ? e.message : String(e)}).` };
    }
    if (!status || typeof status !== 'object') status = { error: 'The varnkit window gave no usable answer.' };
    const ok = typeof status.error !== 'string' && typeof status.model_name === 'string';
    const message = ok ? `The gateway at ${address} answered.`
      : plainStatusError(typeof status.error === 'string' ? status.error : `The gateway at ${address} did not report its status.`);
    if (query === statusQuery) {
      showCard(ok ? 'ok' : 'error', message, ok ? status : null);
      if (ok) limitChannels(status.model_name);
    }
    return { ok, message, status };
  }

  const failedToStart = (e) => ({ kind: 'error', text: `Could not start: ${e && e.message ? e.message : String(e)}` });

  // Runs the action and resolves to its outcome. Where the window can run it in
  // the background, the page stays live and shows the tool's progress meanwhile;
  // elsewhere the call blocks the page until the tool has ended.
  function call(key, address) {
    const extra = ACTIONS[key].choice ? [Number($(`${key}-number`).value), $(`${key}-kind`).value] : [];
    const outcomeOf = (result) => ({ ...describe(ACTIONS[key], result), result });
    const site = siteGateway;
    if (!site && typeof window.native_runAction !== 'function') {
      try {
        return Promise.resolve(outcomeOf(window[ACTIONS[key].native](address, ...extra)));
      } catch (e) {
        return Promise.resolve(failedToStart(e));
      }
    }
    const start = site ? () => window.native_siteAction(site.path, site.name, ACTIONS[key].native, ...extra)
      : () => window.native_runAction(ACTIONS[key].native, address, ...extra);
    return inBackground(start, (outcome) => showOutcome(key, outcome)).then(outcomeOf, failedToStart);
  }

  // Resolves to what `start` resolves to; meanwhile `show` gets the run's progress.
  function inBackground(start, show) {
    // The dialog and the question come first: "Running" only once the tool runs.
    const running = () => (typeof window.native_runRunning === 'function' ? window.native_runRunning() === true : true);
    const timer = setInterval(() => {
      const progress = typeof window.native_runProgress === 'function' ? window.native_runProgress() : '';
      if (typeof progress === 'string' && progress !== '') {
        show({ kind: 'busy', text: `Running: ${progress}. Follow the steps in the run view.` });
      } else if (running()) {
        show({ kind: 'busy', text: 'Running. Follow the steps in the run view.' });
      }
    }, 400);
    return Promise.resolve().then(start).finally(() => clearInterval(timer));
  }

  // A run of the site view: resolves to its outcome as the run's own summary tells it, with its log.
  function runTool(key, start, show) {
    return inBackground(start, show).then((result) => {
      const outcome = { ...describe(RUNS[key], result), result };
      const ran = [0, 1, 2, -2, -5].includes(result) ? lastRun() : {};
      return { ...outcome, ...toldByRun(key, outcome, ran), log: typeof ran.log === 'string' ? ran.log : '' };
    }, failedToStart);
  }

  function useSiteGateway(gateway) {
    siteGateway = gateway && typeof window.native_siteAction === 'function' ? gateway : null;
    $('site-gateway').hidden = siteGateway === null;
    if (siteGateway === null) return;
    $('site-gateway-name').textContent = gateway.name;
    $('site-gateway-site').textContent = gateway.site;
    addressInput.value = gateway.address;
    clearAddressError();
    checkGateway(gateway.address);
  }

  function run(key) {
    if (busy || !available(key)) return;
    const checked = window.VarnkitAddress.check(addressInput.value);
    if (!checked.ok) {
      showAddressError(checked.message);
      addressInput.focus();
      return;
    }
    clearAddressError();
    addressInput.value = checked.address;
    remember(checked.address);
    const who = siteGateway ? `${checked.address} (${siteGateway.name})` : checked.address;
    setBusy(key);
    showOutcome(key, { kind: 'busy', text: 'Checking the gateway…' });
    checkGateway(checked.address).then((answer) => {
      if (answer && !answer.ok) {
        setBusy(null);
        const outcome = { kind: 'error', text: `Not started: ${answer.message}` };
        showOutcome(key, outcome);
        logActivity(key, who, outcome);
        buttons[key].focus();
        return;
      }
      if (answer && ACTIONS[key].choice && $(`${key}-number`).selectedOptions[0].disabled) {
        setBusy(null);
        const outcome = { kind: 'warn', text: `Not started: a ${answer.status.model_name} has no channel ${$(`${key}-number`).value}.` };
        showOutcome(key, outcome);
        logActivity(key, who, outcome);
        return;
      }
      showOutcome(key, { kind: 'busy', text: typeof window.native_runRunning === 'function'
        ? 'Waiting for your choice in the window’s dialog.' : 'Running. Follow the steps in the run view.' });
      // The native call blocks the page until the tool has ended: let the busy state paint first.
      requestAnimationFrame(() => setTimeout(async () => {
        const outcome = await call(key, checked.address);
        // Only a run that reached the tool has a log of its own; a refused or cancelled action leaves none.
        const ran = [0, 1, 2, -2, -5].includes(outcome.result) ? lastRun() : {};
        Object.assign(outcome, toldByRun(key, outcome, ran));
        // After an upgrade the card shows the version the gateway now runs.
        if (key === 'firmware' && ran.result) checkGateway(checked.address);
        setBusy(null);
        showOutcome(key, outcome);
        logActivity(key, who, outcome, typeof ran.log === 'string' ? ran.log : '');
        buttons[key].focus();
      }, 0));
    });
  }

  // ------------------------------------------------------------ backups
  // Every text from the tool's JSON goes into the page as text, never as markup.

  let openedBackup = '';

  function element(tag, text, className) {
    const node = document.createElement(tag);
    if (text !== undefined) node.textContent = String(text);
    if (className) node.className = className;
    return node;
  }

  const shownValue = (value) => {
    if (value === null || value === undefined || value === '') return '–';
    return typeof value === 'string' ? value : JSON.stringify(value);
  };
  const listText = (value) => (Array.isArray(value) ? value.map(shownValue).join(', ') : shownValue(value));

  // A cell is a value shown as text or a node of its own; `states` mark rows (data-state).
  function table(caption, headers, rows, states = []) {
    const node = element('table', undefined, 'backup-table');
    node.append(element('caption', caption));
    const head = element('tr');
    for (const header of headers) head.append(element('th', header));
    node.append(element('thead'));
    node.tHead.append(head);
    const body = element('tbody');
    rows.forEach((row, index) => {
      const line = element('tr');
      if (states[index] !== undefined) line.dataset.state = String(states[index]);
      for (const cell of row) {
        const place = element('td');
        if (cell instanceof Node) place.append(cell); else place.textContent = shownValue(cell);
        line.append(place);
      }
      body.append(line);
    });
    node.append(body);
    return node;
  }

  function problemLine(problem) {
    return typeof problem === 'string' && problem !== '' ? element('p', problem, 'backup-problem') : null;
  }

  function gatewayBlock(gateway) {
    const block = element('dl', undefined, 'card-fields backup-gateway');
    const fields = [['Model', 'model_name'], ['Firmware', 'firmware_version'], ['Serial number', 'serial_number'],
      ['MAC', 'mac']];
    for (const [label, name] of fields) {
      const pair = element('div');
      pair.append(element('dt', label), element('dd', shownValue(gateway && gateway[name])));
      block.append(pair);
    }
    return block;
  }

  const array = (value) => (Array.isArray(value) ? value : []);

  function channelSection(channel, configurations) {
    const section = element('section', undefined, 'backup-channel');
    section.append(element('h4', `Channel ${channel}`));
    for (const configuration of configurations) {
      const record = configuration.record || {};
      const problem = problemLine(record.problem || configuration.problem);
      if (problem) section.append(problem);
      if (record.kind === 'channel') {
        const gear = array(record.gear);
        section.append(gear.length === 0 ? element('p', `${configuration.name}: no gear in use.`, 'backup-note')
          : table(`Gear (${configuration.name})`, ['Slot', 'Name', 'Address', 'Groups', 'Device types'],
            gear.map((g) => [g.slot, g.name, g.short_address, listText(g.groups), listText(g.device_types)])));
        const groups = array(record.groups);
        if (groups.length > 0) {
          section.append(table(`Group names (${configuration.name})`, ['Group', 'Name'], groups.map((g) => [g.group, g.name])));
        }
      } else if (record.kind === 'inputs') {
        const devices = array(record.devices);
        section.append(devices.length === 0 ? element('p', `${configuration.name}: no input devices in use.`, 'backup-note')
          : table(`Input devices (${configuration.name})`, ['Slot', 'Name', 'Address', 'Instances'],
            devices.map((d) => [d.slot, d.name, d.short_address,
              `${shownValue(d.instance_count)}: ${array(d.instances).map((i) => shownValue(i.type)).join(', ')}`])));
      }
    }
    return section;
  }

  function backupContents(backup) {
    const parts = [element('h3', `${shownValue(backup.source)} (${shownValue(backup.kind)})`, 'backup-title')];
    const problem = problemLine(backup.problem);
    if (problem) parts.push(problem);
    parts.push(gatewayBlock(backup.gateway));
    const configurations = array(backup.configurations).filter((c) => c && typeof c === 'object');
    parts.push(table('Configurations', ['Name', 'Size', 'Record version', 'Problem'],
      configurations.map((c) => [c.name, c.size, c.record_version, c.problem])));
    const channels = new Map();
    for (const configuration of configurations) {
      if (!configuration.record || !Number.isInteger(configuration.channel)) continue;
      if (!channels.has(configuration.channel)) channels.set(configuration.channel, []);
      channels.get(configuration.channel).push(configuration);
    }
    for (const channel of [...channels.keys()].sort((a, b) => a - b)) parts.push(channelSection(channel, channels.get(channel)));
    return parts;
  }

  function changeText(change) {
    const slot = change.slot === null || change.slot === undefined ? '' : ` ${shownValue(change.slot)}`;
    return `${shownValue(change.section)}${slot} ${shownValue(change.field)}: ${shownValue(change.old)} → ${shownValue(change.new)}`;
  }

  function changeList(changes) {
    const node = element('ul', undefined, 'backup-changes');
    for (const change of changes) node.append(element('li', changeText(change || {})));
    return node;
  }

  function comparisonContents(comparison) {
    const parts = [element('h3', `${shownValue(comparison.old)} → ${shownValue(comparison.new)}`, 'backup-title'),
      element('p', comparison.different ? 'The backups differ.' : 'No differences.', 'backup-summary')];
    const gateway = array(comparison.gateway);
    if (gateway.length > 0) parts.push(element('h4', 'Gateway'), changeList(gateway));
    const configurations = array(comparison.configurations).filter((c) => c && typeof c === 'object');
    const changed = configurations.filter((c) => c.state !== 'unchanged');
    if (changed.length > 0) {
      const details = (c) => {
        if (array(c.changes).length > 0) return changeList(c.changes);
        return c.state === 'changed' ? `${shownValue(c.differing_bytes)} bytes differ` : '';
      };
      const version = (c) => (c.old_version === c.new_version ? c.old_version
        : `${shownValue(c.old_version)} → ${shownValue(c.new_version)}`);
      parts.push(table('Configurations', ['Name', 'State', 'Version', 'Changes'],
        changed.map((c) => [c.name, c.state, version(c), details(c)]), changed.map((c) => c.state)));
    }
    const same = configurations.length - changed.length;
    parts.push(element('p', `${same} configuration${same === 1 ? '' : 's'} unchanged.`, 'backup-note'));
    return parts;
  }

  function showBackupMessage(kind, text) {
    const message = $('backup-message');
    message.hidden = text === '';
    message.dataset.kind = kind;
    message.textContent = text;
  }

  // Runs one reader; the view changes only when it answered with a document.
  async function readBackups(ask, render, working) {
    const buttonsShown = [$('open-backup'), $('compare-backup')];
    for (const button of buttonsShown) button.disabled = true;
    showBackupMessage('busy', working);
    let answer;
    try {
      answer = JSON.parse(await ask());
    } catch (e) {
      answer = { error: `The varnkit window gave no usable answer (${e && e.message ? e.message : String(e)}).` };
    }
    if (!answer || typeof answer !== 'object') answer = { error: 'The varnkit window gave no usable answer.' };
    if (typeof answer.error === 'string') {
      showBackupMessage('error', answer.error);
    } else {
      showBackupMessage('', '');
      if (answer.cancelled !== true) {
        $('backup-view').replaceChildren(...render(answer));
        $('backup-view').hidden = false;
      }
    }
    $('open-backup').disabled = false;
    $('compare-backup').disabled = openedBackup === '' || typeof window.native_compareBackups !== 'function';
    $('backup-report').disabled = openedBackup === '' || typeof window.native_backupReport !== 'function';
  }

  function openBackup() {
    readBackups(() => window.native_showBackup(''), (backup) => {
      openedBackup = typeof backup.source === 'string' ? backup.source : '';
      return backupContents(backup);
    }, 'Reading the backup…');
  }

  // The handover report of the opened backup, printed to PDF by the window.
  async function reportBackup() {
    $('backup-report').disabled = true;
    showBackupMessage('busy', 'Making the report…');
    const answer = await reportAnswer(() => window.native_backupReport(openedBackup));
    showBackupMessage(answer.kind, answer.text);
    $('backup-report').disabled = false;
  }

  // What a report call came to, as a message: { kind, text }.
  async function reportAnswer(ask) {
    let answer;
    try {
      answer = JSON.parse(await ask());
    } catch (e) {
      answer = null;
    }
    if (!answer || typeof answer !== 'object') return { kind: 'error', text: 'The varnkit window gave no usable answer.' };
    if (typeof answer.error === 'string') return { kind: 'error', text: answer.error };
    if (typeof answer.path === 'string') return { kind: 'ok', text: `The report is ${answer.path}` };
    return { kind: '', text: '' };
  }

  // The handover report of the gateway as it is now: the window backs it up privately and prints the report.
  async function reportGateway() {
    if (busy) return;
    const checked = window.VarnkitAddress.check(addressInput.value);
    if (!checked.ok) {
      showAddressError(checked.message);
      addressInput.focus();
      return;
    }
    setBusy('report');
    showOutcome('report', { kind: 'busy', text: `Reading ${checked.address} and making the report…` });
    const answer = await reportAnswer(() => window.native_gatewayReport(checked.address));
    setBusy(null);
    showOutcome('report', answer);
    $('gateway-report').focus();
  }

  function compareBackup() {
    readBackups(() => window.native_compareBackups(openedBackup, ''), comparisonContents,
      `Comparing with ${openedBackup}…`);
  }

  function showVersion() {
    const version = window.native_appVersion;
    if (typeof version !== 'string' || version === '') return;
    $('version-number').textContent = version;
    $('version').hidden = false;
    document.title = `varnkit ${version}`;
  }

  function init() {
    showVersion();
    for (const button of document.querySelectorAll('button[data-action]')) {
      buttons[button.dataset.action] = button;
      button.addEventListener('click', () => run(button.dataset.action));
    }
    const missing = Object.keys(ACTIONS).filter((key) => !available(key));
    $('browser-notice').hidden = missing.length === 0;
    document.body.dataset.mode = missing.length === 0 ? 'varnkit' : 'browser';
    setBusy(null);
    showActivity(storedActivity());
    $('open-backup').disabled = typeof window.native_showBackup !== 'function';
    $('open-backup').addEventListener('click', openBackup);
    $('compare-backup').addEventListener('click', compareBackup);
    $('backup-report').addEventListener('click', reportBackup);
    $('gateway-report').addEventListener('click', reportGateway);

    addressInput.value = remembered();
    offerRecent(recentAddresses());
    $('gateway-form').addEventListener('submit', (event) => {
      event.preventDefault();
      if (busy) return;
      const checked = window.VarnkitAddress.check(addressInput.value);
      if (!checked.ok) {
        showAddressError(checked.message);
        return;
      }
      clearAddressError();
      addressInput.value = checked.address;
      remember(checked.address);
      checkGateway(checked.address);
    });
    addressInput.addEventListener('input', () => {
      if (!addressError.hidden && window.VarnkitAddress.check(addressInput.value).ok) clearAddressError();
      // Another address is not the site's gateway any more.
      if (siteGateway && addressInput.value.trim() !== siteGateway.address) useSiteGateway(null);
      openRecent(false);
    });
    addressInput.addEventListener('keydown', recentKeys);
    addressInput.addEventListener('blur', closeRecent);
    addressInput.addEventListener('change', () => {
      const checked = window.VarnkitAddress.check(addressInput.value);
      if (checked.ok) {
        clearAddressError();
        remember(checked.address);
      } else if (addressInput.value.trim() !== '') {
        showAddressError(checked.message);
      }
    });
  }

  init();

  // For the site view (site.js), which runs after this script.
  window.VarnkitPage = Object.freeze({
    element, comparisonContents, runTool, reportAnswer, logActivity, useSiteGateway, setBusy, isBusy: () => busy,
  });
})();
