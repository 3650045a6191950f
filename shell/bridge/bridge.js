// The shell's native interface, installed in every frame before the page's own
// scripts run. Each action function blocks the page until the shell answers (see
// bridge/native_scheme_handler.h) and returns an integer; the status and backup readers
// and the site functions return a Promise of JSON text (the site's runs: of an integer).
// None of them ever throws.
(function () {
  'use strict';
  // Only documents of the origins the shell names get the interface, with their origin's key; all others see none of it.
  const keys = @KEYS@;
  if (!Object.prototype.hasOwnProperty.call(keys, location.origin)) return;
  const key = keys[location.origin];
  // Taken now, so that a page replacing them later cannot break its own calls.
  const Request = XMLHttpRequest;
  const open = Request.prototype.open;
  const send = Request.prototype.send;
  const status = Object.getOwnPropertyDescriptor(Request.prototype, 'status').get;
  const responseText = Object.getOwnPropertyDescriptor(Request.prototype, 'responseText').get;
  const onLoadEnd = Object.getOwnPropertyDescriptor(XMLHttpRequestEventTarget.prototype, 'onloadend').set;
  const Promise_ = Promise;
  const encode = encodeURIComponent;
  const replace = String.prototype.replace;
  const parse = parseInt;
  const isNaN = Number.isNaN;
  const toText = String;
  const parseJson = JSON.parse;
  const indexOf = String.prototype.indexOf;
  // Lone surrogates cannot be encoded; they become U+FFFD as in any UTF-8 conversion.
  const loneSurrogate = /[\uD800-\uDBFF](?![\uDC00-\uDFFF])|(?<![\uD800-\uDBFF])[\uDC00-\uDFFF]/g;

  // The address of a request: the function's path and query, and the document's key.
  function address(path) {
    return '@SCHEME@:' + path + (indexOf.call(path, '?') < 0 ? '?' : '&') + 'key=' + key;
  }

  // A request answered at once; its text, or '' when it failed.
  function ask(path) {
    try {
      const request = new Request();
      open.call(request, 'GET', address(path), false);
      send.call(request);
      return status.call(request) === 200 ? responseText.call(request) : '';
    } catch (e) {
      return '';
    }
  }

  // The query of an action call; null when the call returns -1 at once.
  function actionQuery(args) {
    let query = '';
    if (args.length > 0 && typeof args[0] === 'string') {
      if (args[0] === '') return null;
      query = '?ip=' + encode(replace.call(args[0], loneSurrogate, '\uFFFD'));
      // A channel setup or export names the channel and the kind of CSV file; the shell checks both.
      if (args.length > 2) query += '&channel=' + encode(toText(args[1])) + '&kind=' + encode(toText(args[2]));
    }
    return query;
  }

  function resultOf(request) {
    const result = parse(responseText.call(request), 10);
    return status.call(request) === 200 && !isNaN(result) ? result : -1;
  }

  function call(name, args) {
    const query = actionQuery(args);
    if (query === null) return -1;
    try {
      const request = new Request();
      open.call(request, 'GET', address(name + query), false);
      send.call(request);
      return resultOf(request);
    } catch (e) {
      return -1;
    }
  }

  // The same call without blocking the page: a Promise of the result.
  const actionNames = ['native_actionBackup', 'native_actionRestore', 'native_actionFirmwareUpgrade',
    'native_actionSetupChannel', 'native_actionExportChannel'];
  function callInBackground(name, args) {
    const query = actionQuery(args);
    if (actionNames.indexOf(name) < 0 || query === null) return new Promise_((resolve) => resolve(-1));
    return resultInBackground(name + query);
  }

  // A Promise of the integer result of the request at `path`.
  function resultInBackground(path) {
    return new Promise_((resolve) => {
      try {
        const request = new Request();
        open.call(request, 'GET', address(path), true);
        onLoadEnd.call(request, () => resolve(resultOf(request)));
        send.call(request);
      } catch (e) {
        resolve(-1);
      }
    });
  }

  // The status query and the backup readers run in the background: the page gets a Promise of the JSON text.
  function askInBackground(path) {
    return new Promise_((resolve) => {
      const failed = '{"error":"The varnkit window did not answer."}';
      try {
        const request = new Request();
        open.call(request, 'GET', address(path), true);
        onLoadEnd.call(request, () => resolve(status.call(request) === 200 ? responseText.call(request) : failed));
        send.call(request);
      } catch (e) {
        resolve(failed);
      }
    });
  }

  // A string argument for a query; anything else counts as empty.
  function queryText(value) {
    return typeof value === 'string' ? encode(replace.call(value, loneSurrogate, '\uFFFD')) : '';
  }

  // The query of a site function: each key with its argument; a number counts as its text, anything else as empty.
  function siteQuery(keys, values) {
    let query = '';
    for (let i = 0; i < keys.length; ++i) {
      const value = typeof values[i] === 'number' ? toText(values[i]) : values[i];
      query += (i === 0 ? '?' : '&') + keys[i] + '=' + queryText(value);
    }
    return query;
  }

  // The site functions: a Promise of JSON text, or of the integer result for the runs.
  function site(name, keys, values) { return askInBackground(name + siteQuery(keys, values)); }
  function siteRun(name, keys, values) { return resultInBackground(name + siteQuery(keys, values)); }

  function statusOf(address) {
    if (typeof address !== 'string' || address === '') {
      return new Promise_((resolve) => resolve('{"error":"Enter the gateway address."}'));
    }
    return askInBackground('native_gatewayStatus?ip=' + queryText(address));
  }

  window.native_appVersion = '@APP_VERSION@';
  window.native_actionBackup = function () { return call('native_actionBackup', arguments); };
  window.native_actionRestore = function () { return call('native_actionRestore', arguments); };
  window.native_actionFirmwareUpgrade = function () { return call('native_actionFirmwareUpgrade', arguments); };
  window.native_actionSetupChannel = function () { return call('native_actionSetupChannel', arguments); };
  window.native_actionExportChannel = function () { return call('native_actionExportChannel', arguments); };
  window.native_runAction = function (name, ...args) { return callInBackground(name, args); };
  window.native_runProgress = function () {
    try {
      return toText(parseJson(ask('native_runProgress')).progress);
    } catch (e) {
      return '';
    }
  };
  window.native_runRunning = function () {
    try {
      return parseJson(ask('native_runProgress')).running === true;
    } catch (e) {
      return false;
    }
  };
  window.native_lastRun = function () { return ask('native_lastRun') || '{}'; };
  window.native_showLog = function (name) {
    const result = parse(ask('native_showLog?name=' + encode(typeof name === 'string' ? name : '')), 10);
    return isNaN(result) ? -1 : result;
  };
  window.native_gatewayStatus = function (address) { return statusOf(address); };
  window.native_showBackup = function (path) { return askInBackground('native_showBackup?path=' + queryText(path)); };
  window.native_compareBackups = function (oldPath, newPath) {
    return askInBackground('native_compareBackups?old=' + queryText(oldPath) + '&new=' + queryText(newPath));
  };
  window.native_siteRecent = function () { return askInBackground('native_siteRecent'); };
  window.native_siteOpen = function (path) { return site('native_siteOpen', ['site'], [path]); };
  window.native_siteCreate = function () { return askInBackground('native_siteCreate'); };
  window.native_siteList = function (path) { return site('native_siteList', ['site'], [path]); };
  window.native_siteStatus = function (path) { return site('native_siteStatus', ['site'], [path]); };
  window.native_siteChange = function (path, change) {
    return site('native_siteChange', ['site', 'change'], [path, change]);
  };
  window.native_siteLog = function (path, name) { return site('native_siteLog', ['site', 'name'], [path, name]); };
  window.native_siteDiff = function (path, name, from, to) {
    return site('native_siteDiff', ['site', 'name', 'from', 'to'], [path, name, from, to]);
  };
  window.native_siteBackupAll = function (path) { return siteRun('native_siteBackupAll', ['site'], [path]); };
  window.native_siteRestore = function (path, name, version) {
    return siteRun('native_siteRestore', ['site', 'name', 'version'], [path, name, version]);
  };
  window.native_siteAction = function (path, name, action, channel, kind) {
    return siteRun('native_siteAction', ['site', 'name', 'action', 'channel', 'kind'], [path, name, action, channel, kind]);
  };
  window.native_siteReport = function (path, names) {
    return site('native_siteReport', ['site', 'names'], [path, names]);
  };
  window.native_backupReport = function (path) { return site('native_backupReport', ['path'], [path]); };
  window.native_gatewayReport = function (address) { return site('native_gatewayReport', ['ip'], [address]); };
})();
