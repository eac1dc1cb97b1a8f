// The replay page's script: shows position n from its lines, marks its move in
// the list and sets the controls; the buttons, the arrow keys (and Home and
// End), the slider and the move list call it.
"use strict";
(() => {
  const data = JSON.parse(document.getElementById("replay-data").textContent);
  const last = data.plies.length - 1;
  const board = document.getElementById("board");
  const slider = document.getElementById("slider");
  const counter = document.getElementById("counter");
  const list = document.querySelector("nav.moves");
  const entries = Array.from(list.querySelectorAll("button.move"));
  const buttons = {};
  for (const id of ["first", "previous", "next", "last"]) {
    buttons[id] = document.getElementById(id);
  }
  let shown = -1;

  // Scrolls the move list, and only the list, to show an entry.
  function reveal(entry) {
    const top = entry.offsetTop;
    const bottom = top + entry.offsetHeight;
    if (top < list.scrollTop) {
      list.scrollTop = top;
    } else if (bottom > list.scrollTop + list.clientHeight) {
      list.scrollTop = bottom - list.clientHeight;
    }
  }

  function show(n) {
    n = Math.max(0, Math.min(last, n));
    if (n === shown) return;
    shown = n;
    board.innerHTML = data.plies[n].map((line) => data.lines[line]).join("\n");
    board.dataset.ply = String(n);
    slider.value = String(n);
    counter.textContent = n + " / " + last;
    for (const entry of entries) {
      const current = Number(entry.dataset.ply) === n;
      entry.classList.toggle("current", current);
      if (current) {
        entry.setAttribute("aria-current", "step");
        reveal(entry);
      } else {
        entry.removeAttribute("aria-current");
      }
    }
    buttons.first.disabled = buttons.previous.disabled = n === 0;
    buttons.next.disabled = buttons.last.disabled = n === last;
  }

  buttons.first.addEventListener("click", () => show(0));
  buttons.previous.addEventListener("click", () => show(shown - 1));
  buttons.next.addEventListener("click", () => show(shown + 1));
  buttons.last.addEventListener("click", () => show(last));
  slider.addEventListener("input", () => show(Number(slider.value)));
  for (const entry of entries) {
    entry.addEventListener("click", () => show(Number(entry.dataset.ply)));
  }
  const keys = {
    ArrowLeft: () => shown - 1, ArrowRight: () => shown + 1,
    ArrowUp: () => 0, Home: () => 0, ArrowDown: () => last, End: () => last,
  };
  document.addEventListener("keydown", (event) => {
    const target = keys[event.key];
    if (!target || event.altKey || event.ctrlKey || event.metaKey || event.shiftKey) return;
    event.preventDefault();
    show(target());
  });
  show(0);
})();
