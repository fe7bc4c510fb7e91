// Proves the script was fetched and ran, and shows the query the page got.
document.body.dataset.script = "ran";
document.getElementById("out").textContent =
  "script ran; query " + (location.search || "(none)");
