// The page's behaviour: shows the kit's version, checks and remembers the
// gateway address, and runs the four actions through the functions that the
// varnkit window puts on the page. Each call blocks until the console tool has
// ended and returns an integer: -1 cancelled or not started, -2 stopped before
// the end, -3 declined at the confirmation, -4 refused (firmware for another
// model), 0 done, 1 failed, 2 not started because values were missing. Before
// each action, and when the address is checked, native_gatewayStatus (a
// Promise of JSON text) fills the gateway card.
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
    },
  };

  const $ = (id) => document.getElementById(id);
  const addressInput = $('address');
  const addressError = $('address-error');
  const buttons = {};
  let busy = false;
  let statusQuery = 0;

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
      return Array.isArray(entries) ? entries.filter((e) => e && ACTIONS[e.key]).slice(0, MAX_ACTIVITY) : [];
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
      ['activity-action', ACTIONS[entry.key].title],
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

  function offerRecent(list) {
    $('recent-addresses').replaceChildren(...list.map((address) => {
      const option = document.createElement('option');
      option.value = address;
      return option;
    }));
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
    $('channel-number').disabled = busy;
    $('channel-kind').disabled = busy;
    for (const key of Object.keys(ACTIONS)) {
      buttons[key].disabled = busy || !available(key);
      $(`action-${key}`).setAttribute('aria-busy', String(key === runningKey));
    }
    $('check-button').disabled = busy || typeof window.native_gatewayStatus !== 'function';
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
    const select = $('channel-number');
    for (const option of select.options) option.disabled = count !== null && Number(option.value) > Number(count[1]);
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
    const extra = key === 'channel' ? [Number($('channel-number').value), $('channel-kind').value] : [];
    const outcomeOf = (result) => ({ ...describe(ACTIONS[key], result), result });
    if (typeof window.native_runAction !== 'function') {
      try {
        return Promise.resolve(outcomeOf(window[ACTIONS[key].native](address, ...extra)));
      } catch (e) {
        return Promise.resolve(failedToStart(e));
      }
    }
    const timer = setInterval(() => {
      const progress = typeof window.native_runProgress === 'function' ? window.native_runProgress() : '';
      if (typeof progress === 'string' && progress !== '') {
        showOutcome(key, { kind: 'busy', text: `Running: ${progress}. Follow the details in the console window.` });
      }
    }, 400);
    return Promise.resolve()
      .then(() => window.native_runAction(ACTIONS[key].native, address, ...extra))
      .then(outcomeOf, failedToStart)
      .finally(() => clearInterval(timer));
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
    setBusy(key);
    showOutcome(key, { kind: 'busy', text: 'Checking the gateway…' });
    checkGateway(checked.address).then((answer) => {
      if (answer && !answer.ok) {
        setBusy(null);
        const outcome = { kind: 'error', text: `Not started: ${answer.message}` };
        showOutcome(key, outcome);
        logActivity(key, checked.address, outcome);
        buttons[key].focus();
        return;
      }
      if (answer && key === 'channel' && $('channel-number').selectedOptions[0].disabled) {
        setBusy(null);
        const outcome = { kind: 'warn', text: `Not started: a ${answer.status.model_name} has no channel ${$('channel-number').value}.` };
        showOutcome(key, outcome);
        logActivity(key, checked.address, outcome);
        return;
      }
      showOutcome(key, { kind: 'busy', text: 'Running. Follow the progress in the console window.' });
      // The native call blocks the page until the tool has ended: let the busy state paint first.
      requestAnimationFrame(() => setTimeout(async () => {
        const outcome = await call(key, checked.address);
        const ran = outcome.result !== undefined && outcome.result !== -1 ? lastRun() : {};
        if (key === 'backup' && outcome.result === 0 && typeof ran.archive === 'string' && ran.archive !== '') {
          outcome.text = `Done: the backup archive is ${ran.archive}`;
        }
        setBusy(null);
        showOutcome(key, outcome);
        logActivity(key, checked.address, outcome, typeof ran.log === 'string' ? ran.log : '');
        buttons[key].focus();
      }, 0));
    });
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
    });
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
})();
