// What the controls do, and start-up: the handlers attached, the view read from the address,
// the sources listed, then the first tail.

function runSearch() {
	overtake();
	state.query = ui.q.value.trim();
	state.mode = state.query ? 'search' : 'tail';
	if (state.query)
		search();
	else
		tail();
	schedule();
	writeView();
}

// Escape empties the search box and returns to the tail, as a blank search does; in a box
// already empty with the tail shown it hands the keys back to the log area.
function leaveSearch() {
	if (!ui.q.value && state.mode === 'tail') {
		ui.log.focus();
		return;
	}
	ui.q.value = '';
	runSearch();
}

// The follow control shows the user's choice, or that a range with an end is not followed
// (it stays reachable, saying why it does nothing).
function showFollow() {
	var b = ui.follow, ended = !!state.until;
	b.classList.toggle('on', state.follow && !ended);
	b.setAttribute('aria-disabled', ended ? 'true' : 'false');
	b.textContent = ended ? 'Follow off: range ends' : state.follow ? 'Follow' : 'Paused';
	b.title = ended ? 'Following is off while the time range has an end (To); clear To to follow' : '';
}

function toggleFollow() {
	if (state.until)
		return;
	state.follow = !state.follow;
	showFollow();
	if (state.follow && state.mode === 'search')
		state.mode = 'tail';
	refresh();
}

// ---- The time range

function two(n) {
	return (n < 10 ? '0' : '') + n;
}

// YYYY-MM-DDTHH:MM:SS in the browser's local time, which is what the rows show.
function localStamp(date) {
	return date.getFullYear() + '-' + two(date.getMonth() + 1) + '-' + two(date.getDate()) + 'T' +
		two(date.getHours()) + ':' + two(date.getMinutes()) + ':' + two(date.getSeconds());
}

// A new range is a new view: tail or search it afresh, and follow it only while it has no end.
function setRange(since, until) {
	state.since = since;
	state.until = until;
	if (ui.from.value !== since)
		ui.from.value = since;
	if (ui.to.value !== until)
		ui.to.value = until;
	showFollow();
	refresh();
}

// The shortcuts fill From with the time that many minutes ago and leave To open.
function lastMinutes(minutes) {
	setRange(localStamp(new Date(Date.now() - minutes * 60000)), '');
}

// ---- Download

// Saves a URL or a blob's object URL under the server's name for it.
function save(href, name) {
	var a = document.createElement('a');
	a.href = href;
	a.download = name;
	a.hidden = true;
	document.body.appendChild(a);
	a.click();
	document.body.removeChild(a);
}

function showDownloadResult(text) {
	var b = ui.download;
	b.textContent = text;
	setTimeout(function () {
		b.textContent = 'Download';
	}, 1400);
}

// The file name of an attachment ("filename*=UTF-8''..."), or the fallback.
function attachmentName(disposition, fallback) {
	var m = /filename\*=UTF-8''([^;]+)/i.exec(disposition || '');
	if (m) {
		try {
			return decodeURIComponent(m[1]);
		} catch {
			// A name that does not decode: the fallback.
		}
	}
	return fallback;
}

// The whole log file, as the server sends it. A link cannot carry the password header, so on
// the direct route with such a password the file is fetched with the header and saved from
// memory; otherwise the link itself is followed (through the hub, or with a password only the
// query can carry, that is where it travels, as with every request).
function download() {
	if (!isFile(state.src))
		return;
	var query = 'action=download&src=' + encodeURIComponent(state.src);
	var s = sourceOf(state.src), name = s ? s.label : 'log';
	if (!state.pwd || passwordInQuery()) {
		save(apiUrl(query), '');
		return;
	}
	ui.download.textContent = 'Downloading\u2026';
	fetch(apiUrl(query), { cache: 'no-store', headers: passwordHeaders() }).then(function (r) {
		if (/^application\/json/.test(r.headers.get('content-type') || '')) {
			return r.json().then(function (d) {
				throw new Error(d && (d.message || d.error) || 'download failed');
			});
		}
		var disposition = r.headers.get('content-disposition');
		return r.blob().then(function (blob) {
			var url = URL.createObjectURL(blob);
			save(url, attachmentName(disposition, name));
			// The browser has taken the bytes once the save has started.
			setTimeout(function () {
				URL.revokeObjectURL(url);
			}, 60000);
			showDownloadResult('Download');
		});
	}).catch(function (e) {
		setText(ui.fNote, e && e.message ? e.message : 'download failed');
		showDownloadResult('Download failed');
	});
}

// The rows already received, under another level; the request they came from stands.
function setLevel(level) {
	state.level = level;
	state.cursor = '';
	clearArrivals();
	if (state.shown && !state.shown.failure) {
		var bottom = atBottom();
		showLast();
		if (state.current)
			revealRow(state.current);
		else if (bottom)
			ui.log.scrollTop = ui.log.scrollHeight;
	}
	writeView();
}

function showCopyResult(text) {
	var b = ui.copy;
	b.textContent = text;
	if (state.copyTimer)
		clearTimeout(state.copyTimer);
	state.copyTimer = setTimeout(function () {
		b.textContent = 'Copy';
		state.copyTimer = null;
	}, 1400);
}

function copy() {
	var text = copyText();
	if (navigator.clipboard && navigator.clipboard.writeText) {
		navigator.clipboard.writeText(text).then(function () {
			showCopyResult('Copied');
		}, function () {
			showCopyResult('Copy failed');
		});
		return;
	}
	var ta = document.createElement('textarea'), ok = false;
	ta.value = text;
	document.body.appendChild(ta);
	ta.select();
	try {
		ok = document.execCommand('copy');
	} catch {
		ok = false;
	}
	showCopyResult(ok ? 'Copied' : 'Copy failed');
	document.body.removeChild(ta);
}

function attachControls() {
	ui.sel.addEventListener('change', function () {
		state.src = ui.sel.value;
		state.mode = 'tail';
		state.query = '';
		ui.q.value = '';
		state.open = new Set();
		showAge();
		showDownload();
		refresh();
	});
	ui.segLines.addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		pressOnly(ui.segLines, b);
		state.lines = parseInt(b.getAttribute('data-n'), 10) || 200;
		refresh();
	});
	ui.segLevel.addEventListener('click', function (e) {
		var b = e.target.closest('button');
		if (!b)
			return;
		pressOnly(ui.segLevel, b);
		setLevel(b.getAttribute('data-level'));
	});
	ui.follow.addEventListener('click', toggleFollow);
	ui.range.addEventListener('click', function (e) {
		var b = e.target.closest('button[data-minutes]');
		if (b)
			lastMinutes(parseInt(b.getAttribute('data-minutes'), 10));
	});
	$('btnAnyTime').addEventListener('click', function () {
		setRange('', '');
	});
	[ui.from, ui.to].forEach(function (input) {
		input.addEventListener('change', function () {
			setRange(ui.from.value, ui.to.value);
		});
	});
	ui.download.addEventListener('click', download);
	ui.olderBtn.addEventListener('click', searchOlder);
	$('btnSearch').addEventListener('click', runSearch);
	ui.q.addEventListener('keydown', function (e) {
		if (e.key === 'Enter')
			runSearch();
		else if (e.key === 'Escape' && !e.ctrlKey && !e.altKey && !e.metaKey)
			leaveSearch();
	});
	ui.newBtn.addEventListener('click', function () {
		ui.log.scrollTop = newestFirst() ? 0 : ui.log.scrollHeight;
		clearArrivals();
		// The button is gone; the keys go on in the log area.
		ui.log.focus({ preventScroll: true });
	});
	// The control of an entry of several lines; its row becomes the current one, so that the
	// keys carry on from there.
	ui.log.addEventListener('click', function (e) {
		var more = e.target.closest('button.more');
		if (!more)
			return;
		var row = more.closest('.ln');
		markCurrent(row);
		toggleLines(row);
	});
	ui.log.addEventListener('scroll', function () {
		if (state.arrived && atArrivalEnd())
			clearArrivals();
	});
	$('btnWrap').addEventListener('click', function () {
		this.classList.toggle('on', ui.log.classList.toggle('wrap'));
	});
	ui.copy.addEventListener('click', copy);
	$('btnReload').addEventListener('click', function () {
		overtake();
		loadSources().then(refresh);
	});
	$('btnTheme').addEventListener('click', function () {
		if (typeof window.wqApplyTheme !== 'function')
			return;
		window.wqApplyTheme(window.wqTheme() === 'dark' ? 'light' : 'dark');
	});
	document.addEventListener('keydown', onKey);
	document.addEventListener('visibilitychange', function () {
		if (document.visibilityState === 'visible')
			refresh();
		else
			schedule();
	});
}

readContext();
attachControls();
readView();
showFollow();
loadSources().then(refresh);
