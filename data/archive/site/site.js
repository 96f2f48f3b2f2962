(function () {
  "use strict";
  var tree = document.getElementById("tree");
  var frame = document.getElementById("page");
  var toggle = document.getElementById("menu-toggle");
  var byPage = {}, current = null, shown = null;
  var links = tree.getElementsByTagName("a");
  for (var i = 0; i < links.length; i++) {
    var h = links[i].getAttribute("href");
    if (!(h in byPage)) byPage[h] = links[i];
  }
  function isPage(name) { return /^[A-Za-z0-9._~-]+\.html?$/.test(name) && name !== "index.html"; }
  function mark(page, show) {
    var link = byPage[page];
    if (!link || link === current) return;
    if (current) { current.classList.remove("current"); current.removeAttribute("aria-current"); }
    current = link;
    link.classList.add("current");
    link.setAttribute("aria-current", "page");
    for (var p = link.parentNode; p && p !== tree; p = p.parentNode)
      if (p.tagName === "DETAILS") p.open = true;
    // A page opened from elsewhere than the tree brings its entry into view.
    if (show && link.scrollIntoView) link.scrollIntoView({ block: "center" });
  }
  function pageOf(href) {
    var name = String(href).split("#")[0].split("?")[0];
    try { return decodeURIComponent(name.substring(name.lastIndexOf("/") + 1)); } catch (err) { return ""; }
  }
  function hashPage() {
    try { return decodeURIComponent(location.hash.substring(1)); } catch (err) { return ""; }
  }
  // The page now in the frame: marked, and in the address for reloads and bookmarks.
  function showing(page) {
    if (!isPage(page)) return;
    shown = page;
    mark(page, true);
    var hash = page === "main.html" ? "" : page;
    if (hashPage() === hash) return;
    try {
      history.replaceState(history.state, "", hash ? "#" + hash : location.pathname + location.search);
    } catch (err) {
      location.replace("#" + hash);
    }
  }
  function closeMenu() { if (toggle) toggle.checked = false; }
  document.addEventListener("click", function (e) {
    var a = e.target.closest ? e.target.closest("a") : null;
    if (a && a.target === "page") { mark(a.getAttribute("href")); closeMenu(); }
  });
  document.addEventListener("keydown", function (e) { if (e.key === "Escape") closeMenu(); });
  window.addEventListener("message", function (e) {
    if (e.source !== frame.contentWindow || typeof e.data !== "string") return;
    if (e.data.indexOf("orvalis-page:") === 0) showing(pageOf(e.data.substring(13)));
  });
  frame.addEventListener("load", function () {
    // Browsers that treat local files as one origin tell it here too.
    try { showing(pageOf(frame.contentWindow.location.pathname)); } catch (err) {}
  });
  function follow() {
    var page = hashPage();
    if (!page) page = "main.html";
    if (isPage(page) && page !== shown) { shown = page; frame.src = page; mark(page, true); }
  }
  window.addEventListener("hashchange", follow);
  if (hashPage()) follow();

  var data = window.ORVALIS_SEARCH;
  var form = document.getElementById("find");
  var box = document.getElementById("q");
  var results = document.getElementById("results");
  if (!data || !form) return;
  form.hidden = false;
  form.addEventListener("submit", function (e) { e.preventDefault(); });
  var limit = 50, folded = null;
  // Letters that do not decompose into a base letter and marks.
  var plain = { "\u00df": "ss", "\u00e6": "ae", "\u00f0": "d", "\u00f8": "o", "\u00fe": "th", "\u0111": "d",
    "\u0127": "h", "\u0131": "i", "\u0138": "k", "\u0140": "l", "\u0142": "l", "\u014b": "n", "\u0153": "oe",
    "\u0167": "t", "\u017f": "s", "\u0180": "b", "\u0183": "b", "\u0188": "c", "\u0192": "f", "\u0199": "k",
    "\u019a": "l", "\u01b6": "z", "\u0225": "z", "\u0249": "j", "\u024d": "r", "\u0253": "b", "\u0256": "d",
    "\u0257": "d", "\u0260": "g", "\u0268": "i", "\u0289": "u" };
  var special = new RegExp("[" + Object.keys(plain).join("") + "]", "g");
  function fold(s) {
    s = s.toLowerCase();
    if (s.normalize) s = s.normalize("NFKD").replace(/[\u0300-\u036f]/g, "");
    return s.replace(special, function (c) { return plain[c]; });
  }
  function prepare() {
    // Fields of a row joined by a line break, which no search word holds.
    folded = { a: data.a.map(function (r) { return fold(r[0]); }),
               b: data.b.map(function (r) { return fold(r[0] + "\n" + (r[2] || "")); }),
               t: data.t.map(function (r) { return fold(r[0] + "\n" + r[1] + "\n" + data.b[r[2]][0]); }) };
  }
  function matches(text, terms) {
    for (var i = 0; i < terms.length; i++) if (text.indexOf(terms[i]) < 0) return false;
    return true;
  }
  function section(title, kind, terms, row) {
    var found = [], total = 0, keys = folded[kind];
    for (var i = 0; i < keys.length; i++)
      if (matches(keys[i], terms)) { if (found.length < limit) found.push(i); total++; }
    if (!total) return 0;
    var h = document.createElement("h3");
    h.textContent = title + " (" + total + ")";
    results.appendChild(h);
    var ul = document.createElement("ul");
    found.forEach(function (i) { ul.appendChild(row(data[kind][i])); });
    results.appendChild(ul);
    if (total > found.length) {
      var more = document.createElement("p");
      more.textContent = results.dataset.more.replace("$1", total - found.length);
      results.appendChild(more);
    }
    return total;
  }
  function item(text, page, where) {
    var li = document.createElement("li"), a = document.createElement("a");
    a.href = page; a.target = "page"; a.textContent = text;
    li.appendChild(a);
    if (where) {
      var w = document.createElement("span");
      w.className = "where"; w.textContent = " " + where;
      li.appendChild(w);
    }
    return li;
  }
  function search() {
    var terms = fold(box.value).split(/\s+/).filter(function (t) { return t.length > 0; });
    results.textContent = "";
    if (!terms.length) { results.hidden = true; tree.hidden = false; return; }
    if (!folded) prepare();
    var n = section(results.dataset.artists, "a", terms, function (r) { return item(r[0], r[1]); });
    n += section(results.dataset.albums, "b", terms, function (r) { return item(r[0], r[1], r[2]); });
    n += section(results.dataset.titles, "t", terms, function (r) {
      var album = data.b[r[2]];
      return item(r[0], album[1], [r[1], album[0]].filter(Boolean).join(" \u00b7 "));
    });
    if (!n) {
      var none = document.createElement("p");
      none.textContent = results.dataset.none;
      results.appendChild(none);
    }
    results.hidden = false;
    tree.hidden = true;
  }
  box.addEventListener("input", search);
  var asked = new URLSearchParams(location.search).get("q");
  if (asked) { box.value = asked; search(); }
})();
