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
  var known = {}, deep = {}, loaded = {}, asked = {}, chunks = {};
  index.parts.split(" ").forEach(function (p) { if (p) known[p] = true; });
  (index.deep || "").split(" ").forEach(function (p) { if (p) deep[p] = true; });
  var kinds = ["a", "b", "t"], count = index.count || [0, 0, 0], per = index.rows || 1;
  function ask(src) { if (!asked[src]) { asked[src] = true; load(src); } }
  // A part: its words, each with its rows per kind as a string decoded when
  // first needed; "" stands for every word of the part's letters.
  window.orvalisWords = function (name, list) {
    if (loaded[name]) return;
    var d = [];
    for (var i = 0; i + 3 < list.length; i += 4) d.push({ w: list[i], r: [list[i + 1], list[i + 2], list[i + 3]] });
    loaded[name] = d;
    if (box.value) search();
  };
  window.orvalisRows = function (name, rows, albums) {
    if (chunks[name]) return;
    chunks[name] = { rows: rows, albums: albums };
    if (box.value) search();
  };
  // Row numbers: differences in groups of five bits, high groups first,
  // digits of the upper half saying more follow (web_site.cpp writes them).
  var digit = [], alphabet = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  for (var at = 0; at < alphabet.length; at++) digit[alphabet.charCodeAt(at)] = at;
  function rowsOf(entry, k) {
    var r = entry.r[k];
    if (typeof r !== "string") return r;
    var out = [], v = 0, last = 0;
    for (var i = 0; i < r.length; i++) {
      var g = digit[r.charCodeAt(i)];
      if (g >= 32) { v = v * 32 + g - 32; continue; }
      last += v * 32 + g;
      out.push(last);
      v = 0;
    }
    return (entry.r[k] = out);
  }
  // How many rows an entry's list has and its first `few`, no more decoded:
  // the list of a letter holds a good share of the collection. Only the last
  // digit of a row is from the lower half.
  function firstRows(entry, k, few) {
    var r = entry.r[k];
    if (typeof r !== "string") return { n: r.length, rows: r.slice(0, few) };
    var out = [], v = 0, last = 0;
    for (var i = 0; i < r.length && out.length < few; i++) {
      var g = digit[r.charCodeAt(i)];
      if (g >= 32) { v = v * 32 + g - 32; continue; }
      last += v * 32 + g;
      out.push(last);
      v = 0;
    }
    return { n: r.replace(/[W-Za-z_-]+/g, "").length, rows: out };
  }
  // The part that holds the words starting with term, and whether its ""
  // entry stands for them all: a term of one letter, or of just the two
  // letters of a part split by a third.
  function termPart(term) {
    var letters = Array.from(term), two = partName(letters.slice(0, 2).join(""));
    if (letters.length === 1) return { name: two, all: true };
    if (!deep[two]) return { name: two, all: false };
    if (letters.length === 2) return { name: two, all: true };
    return { name: partName(letters.slice(0, 3).join("")), all: false };
  }
  // Rows of kind k with a word starting with term, in order, each once.
  function rowsStarting(part, term, k) {
    var d = loaded[part.name];
    if (part.all) return d.length && d[0].w === "" ? rowsOf(d[0], k) : [];
    var lists = [];
    for (var i = 0; i < d.length; i++)
      if (d[i].w !== "" && d[i].w.lastIndexOf(term, 0) === 0) lists.push(rowsOf(d[i], k));
    if (lists.length === 1) return lists[0];
    // Merged by a typed sort, which costs what the lists hold rather than a
    // walk over every row of the collection.
    var total = 0, at = 0, out = [];
    lists.forEach(function (l) { total += l.length; });
    var all = new Int32Array(total);
    lists.forEach(function (l) { all.set(l, at); at += l.length; });
    all.sort();
    for (var n = 0; n < total; n++) if (!n || all[n] !== all[n - 1]) out.push(all[n]);
    return out;
  }
  function both(x, y) {
    var out = [], i = 0, j = 0;
    while (i < x.length && j < y.length) {
      if (x[i] < y[j]) i++;
      else if (x[i] > y[j]) j++;
      else { out.push(x[i]); i++; j++; }
    }
    return out;
  }
  var lastFound = {}, prefetched = false;
  function chunkOf(k, n) { return kinds[k] + "-" + Math.floor(n / per); }
  function rowAt(k, n) { var c = chunks[chunkOf(k, n)]; return { r: c.rows[n % per], c: c }; }
  // Rows of a section with its count, its first rows shown and the "more" line.
  function section(title, found, k, row) {
    if (!found.n) return 0;
    var h = document.createElement("h3");
    h.textContent = title + " (" + found.n + ")";
    results.appendChild(h);
    var ul = document.createElement("ul");
    found.rows.slice(0, limit).forEach(function (n) { var f = rowAt(k, n); ul.appendChild(row(f.r, f.c)); });
    results.appendChild(ul);
    if (found.n > limit) {
      var more = document.createElement("p");
      more.textContent = results.dataset.more.replace("$1", found.n - limit);
      results.appendChild(more);
    }
    return found.n;
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
    // The part of every term first, then the chunks of the rows shown; the
    // old results stay till the last of them has come.
    var parts = terms.map(termPart), missing = false, key = terms.join(" ");
    // A term without a part starts no word: nothing to load.
    var none = parts.some(function (p) { return !known[p.name]; });
    parts.forEach(function (p) {
      if (!none && !loaded[p.name]) { missing = true; ask("search/" + p.name + ".js"); }
    });
    // A first letter finds rows from the start of each list: their chunks
    // come with its part rather than after it.
    if (missing && !prefetched) {
      prefetched = true;
      for (var c = 0; c < 3; c++) if (count[c]) ask("search/rows/" + chunkOf(c, 0) + ".js");
    }
    if (missing) return;
    // Each chunk that comes runs the search again: the rows found stay.
    var found = lastFound.key === key ? lastFound.rows : null;
    if (!found) {
      found = [];
      for (var k = 0; k < 3; k++) {
        var d = none ? [] : loaded[parts[0].name];
        if (none) found[k] = { n: 0, rows: [] };
        else if (terms.length === 1 && parts[0].all)
          found[k] = d.length && d[0].w === "" ? firstRows(d[0], k, limit) : { n: 0, rows: [] };
        else {
          var rows = null;
          for (var i = 0; i < terms.length && (!rows || rows.length); i++) {
            var these = rowsStarting(parts[i], terms[i], k);
            rows = rows ? both(rows, these) : these;
          }
          found[k] = { n: rows.length, rows: rows };
        }
      }
    }
    for (k = 0; k < 3; k++)
      for (var j = 0; j < Math.min(found[k].rows.length, limit); j++) {
        var name = chunkOf(k, found[k].rows[j]);
        if (!chunks[name]) { missing = true; ask("search/rows/" + name + ".js"); }
      }
    lastFound = { key: key, rows: found };
    if (missing) return;
    results.textContent = "";
    var n = section(results.dataset.artists, found[0], 0, function (r) { return item(r[0], r[1]); });
    n += section(results.dataset.albums, found[1], 1, function (r) { return item(r[0], r[1], r[2]); });
    n += section(results.dataset.titles, found[2], 2, function (r, c) {
      var album = c.albums[r[2]];
      return item(r[0], album[1], [r[1], album[0]].filter(Boolean).join(" \u00b7 "));
    });
    if (!n) {
      var nothing = document.createElement("p");
      nothing.textContent = results.dataset.none;
      results.appendChild(nothing);
    }
    results.hidden = false;
    tree.hidden = true;
  }
  box.addEventListener("input", search);
  var q = new URLSearchParams(location.search).get("q");
  if (q) { box.value = q; search(); }
})();
