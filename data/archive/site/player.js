// The album player: plays the page's tracks in order, going on at the end of
// each and skipping those the browser cannot play. A track's link plays it
// here instead of leaving the page.
(function () {
  var player = document.getElementById("albumplayer");
  if (!player) return;
  var links = document.querySelectorAll("a.play");
  var current = 0;

  function playable(href) {
    var dot = href.lastIndexOf(".");
    var ext = dot < 0 ? "" : href.substring(dot + 1).toLowerCase();
    var types = { mp3: "audio/mpeg", m4a: "audio/mp4", mp4: "audio/mp4", aac: "audio/aac", flac: "audio/flac",
                  ogg: "audio/ogg", oga: "audio/ogg", opus: "audio/ogg; codecs=opus", wav: "audio/wav",
                  webm: "audio/webm", wma: "audio/x-ms-wma", ape: "audio/ape", mpc: "audio/musepack" };
    var type = types[ext];
    return !type || player.canPlayType(type) !== "";
  }

  function mark(index) {
    for (var i = 0; i < links.length; ++i) {
      var row = links[i].parentNode;
      while (row && row.nodeName !== "TR") row = row.parentNode;
      if (row) row.className = row.className.replace(/ ?playing/g, "") + (i === index ? " playing" : "");
    }
  }

  function play(index, start) {
    while (index < links.length && !playable(links[index].getAttribute("href"))) ++index;
    if (index >= links.length) return;
    current = index;
    player.src = links[index].getAttribute("href");
    mark(index);
    if (start) player.play();
  }

  player.addEventListener("ended", function () { play(current + 1, true); });
  // A file the browser turns down after all is passed over too.
  player.addEventListener("error", function () { if (current + 1 < links.length) play(current + 1, true); });
  for (var i = 0; i < links.length; ++i) {
    (function (index) {
      links[index].addEventListener("click", function (event) {
        if (!playable(links[index].getAttribute("href"))) return;
        event.preventDefault();
        play(index, true);
      });
    })(i);
  }
  if (!playable(player.getAttribute("src") || "")) play(0, false);
})();
