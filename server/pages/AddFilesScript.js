// The listing's "Add files" form sent in the background: the bytes sent as a
// bar, then the folder's new listing and the names it gained. A name reaches
// this page only as text (textContent, or markup the server escaped), so
// nothing a name says can run.
{
const form = document.getElementById('add-files');
const button = form.querySelector('button'), bar = form.querySelector('progress');
const said = document.getElementById('add-files-said');
let busy = false;
const say = function (text) { said.textContent = text; };
const finish = function (text) {
  say(text);
  bar.hidden = true;
  button.disabled = false;
  busy = false;
};
// The names a listing shows, as it shows them: its rows' link texts.
const shown = function (doc) {
  return Array.from(doc.querySelectorAll('tbody a'), function (a) { return a.textContent; });
};
// The folder's listing in doc takes the place of this page's.
const adopt = function (doc) {
  const table = doc && doc.querySelector('table'), mine = document.querySelector('table');
  if (!table || !mine) return false;
  mine.replaceWith(document.importNode(table, true));
  return true;
};
// A refusal page's headline and lists, a line each.
const refusal = function (x) {
  const doc = x.response, lines = [];
  if (doc && doc.body) {
    doc.body.querySelectorAll('h1, h2, li').forEach(function (e) {
      lines.push((e.tagName === 'LI' ? '- ' : '') + e.textContent.trim());
    });
  }
  return lines.length ? lines.join('\n') : 'Refused: ' + x.status + ' ' + x.statusText;
};
// The form's address is the page's own, its sort order included.
const ask = function (method, done) {
  const x = new XMLHttpRequest();
  x.open(method, form.action);
  x.responseType = 'document';
  x.onload = function () { done(x); };
  return x;
};
form.addEventListener('submit', function (e) {
  e.preventDefault();
  if (busy) return;
  busy = true;
  button.disabled = true;
  const before = new Set(shown(document));
  // The answer to the form is a redirect to the listing, which the request follows.
  const x = ask('POST', function () {
    if (x.status === 200 && adopt(x.response)) {
      const added = shown(document).filter(function (name) { return !before.has(name); });
      form.reset();
      finish('Stored: ' + (added.length ? added.join(', ') : 'no new name'));
      return;
    }
    finish(refusal(x));
    // Files stored before a refused one stay: the listing shows them.
    ask('GET', function (y) { if (y.status === 200) adopt(y.response); }).send();
  });
  x.upload.onprogress = function (p) {
    if (!p.lengthComputable || !p.total) return;
    bar.max = p.total;
    bar.value = p.loaded;
    say('Sending: ' + Math.floor(100 * p.loaded / p.total) + ' %');
  };
  x.upload.onload = function () { say('Sent: the server is storing the files.'); };
  x.onerror = x.onabort = function () {
    finish('Not sent: the connection to the server was lost.');
  };
  bar.removeAttribute('value');
  bar.hidden = false;
  say('Sending: 0 %');
  x.send(new FormData(form));
});
}
