(function () {
  "use strict";
  var tree = document.getElementById("tree");
  var frame = document.getElementById("page");
  var toggle = document.getElementById("menu-toggle");
  var byPage = {}, current = null, shown = null;
  function collect(root) {
    var links = root.getElementsByTagName("a");
    for (var i = 0; i < links.length; i++) {
      var h = links[i].getAttribute("href");
      if (!(h in byPage)) byPage[h] = links[i];
    }
  }
  collect(tree);
  function isPage(name) { return /^[A-Za-z0-9._~-]+\.html?$/.test(name) && name !== "index.html"; }
  // Long groupings come letter by letter: a script per letter, added when
  // the letter is opened, since file:// pages cannot fetch files.
  var parts = {}, where = null, whereAsked = false, waiting = null;
  function load(src) {
    var s = document.createElement("script");
    s.src = src;
    document.head.appendChild(s);
  }
  function partOf(id) { return tree.querySelector('details[data-part="' + id + '"]'); }
  function openPart(d) {
    var id = d.getAttribute("data-part");
    if (parts[id]) return;
    parts[id] = "loading";
    load("tree/" + id + ".js");
  }
  tree.addEventListener("toggle", function (e) {
    var d = e.target;
    if (d.open && d.hasAttribute && d.hasAttribute("data-part")) openPart(d);
  }, true);
  window.orvalisTree = function (id, html) {
    var d = partOf(id);
    if (!d || parts[id] === "loaded") return;
    parts[id] = "loaded";
    d.insertAdjacentHTML("beforeend", html);
    collect(d);
    if (waiting && waiting.part === id) { var w = waiting; waiting = null; mark(w.page, w.show); }
  };
  window.orvalisWhere = function (map) {
    where = map;
    if (waiting && !waiting.part) { var w = waiting; waiting = null; mark(w.page, w.show); }
  };
  // A page whose entry is not loaded yet: which letter holds it comes from
  // where.js, and that letter is loaded and opened before the entry is marked.
  function seek(page, show) {
    if (!where) {
      waiting = { page: page, show: show };
      if (!whereAsked && tree.querySelector("details[data-part]")) { whereAsked = true; load("tree/where.js"); }
      return;
    }
    var id = where.hasOwnProperty(page) ? where[page] : null, d = id && partOf(id);
    if (!d || parts[id] === "loaded") return;
    waiting = { page: page, part: id, show: show };
    d.open = true;
    openPart(d);
  }
  function mark(page, show) {
    var link = byPage[page];
    if (!link) { seek(page, show); return; }
    if (waiting && waiting.page !== page) waiting = null;
    if (link === current) return;
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

  var index = window.ORVALIS_SEARCH;
  var form = document.getElementById("find");
  var box = document.getElementById("q");
  var results = document.getElementById("results");
  if (!index || !form) return;
  form.hidden = false;
  form.addEventListener("submit", function (e) { e.preventDefault(); });
  var limit = 50;
  // Letters that do not decompose into a base letter and marks; web_site.cpp has the same.
  var plain = { "\u00df": "ss", "\u00e6": "ae", "\u00f0": "d", "\u00f8": "o", "\u00fe": "th", "\u0111": "d",
    "\u0127": "h", "\u0131": "i", "\u0138": "k", "\u0140": "l", "\u0142": "l", "\u014b": "n", "\u0153": "oe",
    "\u0167": "t", "\u017f": "s", "\u0180": "b", "\u0183": "b", "\u0188": "c", "\u0192": "f", "\u0199": "k",
    "\u019a": "l", "\u01b6": "z", "\u0225": "z", "\u0249": "j", "\u024d": "r", "\u0253": "b", "\u0256": "d",
    "\u0257": "d", "\u0260": "g", "\u0268": "i", "\u0289": "u" };
  var special = new RegExp("[" + Object.keys(plain).join("") + "]", "g");
  var ascii = /^[\x00-\x7f]*$/;
  function fold(s) {
    s = s.toLowerCase();
    // Most names are plain ASCII, which has nothing to decompose.
    if (ascii.test(s)) return s;
    if (s.normalize) s = s.normalize("NFKD").replace(/[\u0300-\u036f]/g, "");
    return s.replace(special, function (c) { return plain[c]; });
  }
  var nonWord = /[^\p{L}\p{M}\p{N}]+/u;
  function words(s) { return fold(s).split(nonWord).filter(function (w) { return w.length > 0; }); }
  // The index is split by the first two letters of each word.
  function partName(word) {
    return Array.from(word).slice(0, 3).map(function (c) { return c.codePointAt(0).toString(16); }).join("-");
  }
  var known = {}, deep = {}, loaded = {}, asked = {};
  index.parts.split(" ").forEach(function (p) { if (p) known[p] = true; });
  (index.deep || "").split(" ").forEach(function (p) { if (p) deep[p] = true; });
  // Each row comes with its folded words; a term matches where a word starts with it.
  function keys(d) {
    function last(r) { return " " + r[r.length - 1]; }
    d.keys = { a: d.a.map(last), b: d.b.map(last), t: d.t.map(last) };
  }
  window.orvalisSearch = function (name, d) {
    if (loaded[name]) return;
    keys(d);
    loaded[name] = d;
    if (box.value) search();
  };
  function startingWith(name) {
    return Object.keys(known).filter(function (p) { return p === name || p.indexOf(name + "-") === 0; });
  }
  // The parts a query needs: those of its longest word, which hold every row
  // the query can find. A part too big is split by a third letter ("deep").
  function needed(terms) {
    var lead = Array.from(terms[0]);
    terms.forEach(function (t) { if (Array.from(t).length > lead.length) lead = Array.from(t); });
    var two = partName(lead.slice(0, 2).join(""));
    if (lead.length === 1) return startingWith(two);
    if (!deep[two]) return known[two] ? [two] : [];
    if (lead.length === 2) return startingWith(two);
    var three = partName(lead.slice(0, 3).join(""));
    return known[three] ? [three] : [];
  }
  function matches(text, terms) {
    for (var i = 0; i < terms.length; i++) if (text.indexOf(" " + terms[i]) < 0) return false;
    return true;
  }
  // Rows of kind from the parts, each once and in the order of the whole list.
  function section(title, kind, terms, from, row) {
    var found = [], seen = {};
    from.forEach(function (d) {
      var keys = d.keys[kind], rows = d[kind];
      for (var i = 0; i < keys.length; i++) {
        var n = rows[i][rows[i].length - 2];
        if (!seen[n] && matches(keys[i], terms)) { seen[n] = true; found.push({ n: n, r: rows[i], d: d }); }
      }
    });
    if (!found.length) return 0;
    found.sort(function (x, y) { return x.n - y.n; });
    var h = document.createElement("h3");
    h.textContent = title + " (" + found.length + ")";
    results.appendChild(h);
    var ul = document.createElement("ul");
    found.slice(0, limit).forEach(function (f) { ul.appendChild(row(f.r, f.d)); });
    results.appendChild(ul);
    if (found.length > limit) {
      var more = document.createElement("p");
      more.textContent = results.dataset.more.replace("$1", found.length - limit);
      results.appendChild(more);
    }
    return found.length;
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
    var terms = words(box.value);
    if (!terms.length) { results.textContent = ""; results.hidden = true; tree.hidden = false; return; }
    var parts = needed(terms), missing = parts.filter(function (p) { return !loaded[p]; });
    if (missing.length) {
      // Shown when the last part has come; the old results stay till then.
      missing.forEach(function (p) { if (!asked[p]) { asked[p] = true; load("search/" + p + ".js"); } });
      return;
    }
    var from = parts.map(function (p) { return loaded[p]; });
    results.textContent = "";
    var n = section(results.dataset.artists, "a", terms, from, function (r) { return item(r[0], r[1]); });
    n += section(results.dataset.albums, "b", terms, from, function (r) { return item(r[0], r[1], r[2]); });
    n += section(results.dataset.titles, "t", terms, from, function (r, d) {
      var album = d.b[r[2]];
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
  var q = new URLSearchParams(location.search).get("q");
  if (q) { box.value = q; search(); }
})();
