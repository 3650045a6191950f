// Gateway address check: an IPv4 address, an IPv6 address in brackets (with
// an optional "%interface") or a host name, each with an optional ":port". The address goes unquoted onto the
// console tool's command line, so only these forms may pass: no space, quote
// or shell character can get through.
(function (global) {
  'use strict';

  function isIPv4(text) {
    const parts = text.split('.');
    return parts.length === 4 && parts.every((p) => /^(0|[1-9][0-9]{0,2})$/.test(p) && Number(p) <= 255);
  }

  function isIPv6(text) {
    let t = text;
    if (t.includes('.')) {
      // An embedded IPv4 tail ("::ffff:192.0.2.1") stands for the last two groups.
      const last = t.lastIndexOf(':');
      if (last < 0 || !isIPv4(t.slice(last + 1))) return false;
      t = t.slice(0, last + 1) + '0:0';
    }
    const halves = t.split('::');
    if (halves.length > 2) return false;
    const groups = (s) => (s === '' ? [] : s.split(':'));
    const head = groups(halves[0]);
    const tail = halves.length === 2 ? groups(halves[1]) : [];
    if (![...head, ...tail].every((g) => /^[0-9A-Fa-f]{1,4}$/.test(g))) return false;
    const n = head.length + tail.length;
    return halves.length === 2 ? n <= 7 : n === 8;
  }

  function isHostName(text) {
    if (text.length > 253) return false;
    const labels = text.split('.');
    if (!labels.every((l) => /^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$/.test(l))) return false;
    // A numeric last label means a mistyped IPv4 address, not a name.
    return !/^[0-9]+$/.test(labels[labels.length - 1]);
  }

  function isPort(text) {
    return /^[0-9]{1,5}$/.test(text) && Number(text) >= 1 && Number(text) <= 65535;
  }

  const failed = (message) => ({ ok: false, message });

  // Returns { ok: true, address } with the trimmed address, or { ok: false, message }.
  function check(raw) {
    const text = String(raw === undefined || raw === null ? '' : raw).trim();
    if (text === '') return failed('Enter the gateway address.');
    const scheme = /^([A-Za-z][A-Za-z0-9+.-]*):\/\//.exec(text);
    if (scheme) return failed(`Enter the address without "${scheme[0]}".`);
    const shown = text.length > 60 ? text.slice(0, 57) + '...' : text;
    const unknown = failed(`"${shown}" is not an IPv4 address, an IPv6 address in brackets or a host name.`);
    let host;
    let port = null;
    if (text[0] === '[') {
      const close = text.indexOf(']');
      if (close < 0) return failed('The IPv6 address needs its closing bracket, for example [fd00::20].');
      host = text.slice(1, close);
      const rest = text.slice(close + 1);
      if (rest !== '') {
        if (rest[0] !== ':') return unknown;
        port = rest.slice(1);
      }
      // A link-local address may name its interface: [fe80::1%eth0].
      const zone = host.indexOf('%');
      if (zone >= 0) {
        if (!/^[A-Za-z0-9._~-]{1,64}$/.test(host.slice(zone + 1))) {
          return failed('The interface after "%" may hold only letters, digits and ". _ ~ -", for example [fe80::1%eth0].');
        }
        host = host.slice(0, zone);
      }
      if (!isIPv6(host)) return failed(`"${host.slice(0, 45)}" is not an IPv6 address.`);
    } else {
      const colon = text.indexOf(':');
      if (colon !== text.lastIndexOf(':')) {
        return isIPv6(text) ? failed(`Put the IPv6 address in brackets: [${text}].`) : unknown;
      }
      host = colon < 0 ? text : text.slice(0, colon);
      if (colon >= 0) port = text.slice(colon + 1);
      if (/^[0-9.]+$/.test(host)) {
        if (!isIPv4(host)) return failed(`"${host.slice(0, 45)}" is not an IPv4 address.`);
      } else if (!isHostName(host)) {
        return unknown;
      }
    }
    if (port !== null && !isPort(port)) return failed('The port must be a number from 1 to 65535.');
    return { ok: true, address: text };
  }

  global.VarnkitAddress = Object.freeze({ check });
})(window);
