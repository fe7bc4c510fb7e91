const K = 'tarvel-preview-scroll', most = 10, seen = {}, mine = [], files = [];
let n = 0, at = 0, busy = false, last = 0;
const bare = function (h) {
  const u = new URL(h, location.href);
  u.hash = '';
  return u.href.replace(/[?&]tarvel-preview=\d+$/, '');
};
const watch = function (u, t, list) {
  if (!seen[u]) { seen[u] = {u: u, t: t}; list.push(seen[u]); }
  return seen[u];
};
if (M) {
  watch(bare('/404.html'), T, mine);
  mine.push({u: bare(location.href), m: true});
} else {
  watch(bare(location.href), T, mine);
}
// Compared with the versions the page got, which the browser's cache holds,
// so a change made just after the page loaded is not missed. A framed page
// carries a script of its own.
const loaded = function (e) {
  if (/^(fetch|xmlhttprequest|beacon|navigation|i?frame|object|embed)$/.test(e.initiatorType)) return;
  const u = bare(e.name);
  if (new URL(u).origin !== location.origin || seen[u]) return;
  const w = watch(u, null, files);
  fetch(e.name, {cache: 'force-cache'}).then(function (r) {
    w.t = r.headers.get('ETag') || '';
    if (r.body) r.body.cancel();
  }, function () { w.t = ''; });  // not known: the next answer with a validator reloads
};
try {
  new PerformanceObserver(function (l) { l.getEntries().forEach(loaded); })
    .observe({type: 'resource', buffered: true});
} catch (e) {}
const ask = function (w) {
  const o = {method: 'HEAD', cache: 'no-store', headers: w.t ? {'If-None-Match': w.t} : {}};
  if (AbortSignal.timeout) o.signal = AbortSignal.timeout(5000);
  return fetch(w.u, o).then(function (r) {
    const t = r.status === 304 ? w.t : r.headers.get('ETag') || '';
    return {w: w, t: t, changed: w.m ? r.status !== 404 : t !== w.t};
  });
};
// A changed stylesheet is swapped in place: the page keeps its state.
const swap = function (w, t) {
  let found = false;
  document.querySelectorAll('link[rel~="stylesheet" i][href]').forEach(function (l) {
    if (bare(l.href) !== w.u) return;
    const c = l.cloneNode();
    c.href = w.u + (w.u.indexOf('?') < 0 ? '?' : '&') + 'tarvel-preview=' + (++n);
    c.onload = c.onerror = function () { l.remove(); };
    l.after(c);
    found = true;
  });
  if (found) w.t = t;
  return found;
};
const reload = function () {
  try {
    sessionStorage.setItem(K, JSON.stringify({u: location.href, x: scrollX, y: scrollY}));
  } catch (e) {}
  location.reload();
};
// At most ten requests a second, the page's own first; a server that does
// not answer (stopped) is asked again quietly.
const tick = function () {
  const now = Date.now();
  if (busy || now - last < 900 || document.visibilityState !== 'visible') return;
  last = now;
  const ready = files.filter(function (w) { return w.t !== null; }), batch = mine.slice();
  for (let i = 0; i < ready.length && batch.length < most; ++i) {
    batch.push(ready[(at + i) % ready.length]);
  }
  at += batch.length - mine.length;
  busy = true;
  Promise.allSettled(batch.map(ask)).then(function (a) {
    let again = false;
    a.forEach(function (x) {
      if (x.status === 'fulfilled' && x.value.changed && !swap(x.value.w, x.value.t)) again = true;
    });
    if (again) reload();
  }).then(function () { busy = false; });
};
try {
  const s = JSON.parse(sessionStorage.getItem(K));
  if (s && s.u === location.href) {
    sessionStorage.removeItem(K);
    addEventListener('load', function () { scrollTo(s.x, s.y); });
  }
} catch (e) {}
setInterval(tick, 1000);
document.addEventListener('visibilitychange', tick);
