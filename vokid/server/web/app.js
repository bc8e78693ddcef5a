// The lookup server's page: identify a clip (a file, or a few seconds from
// the microphone) and page through the index's tracks. Text from the
// server is only ever set as textContent: titles and paths may hold markup.
'use strict';

const PAGE_SIZE = 50;
const RECORD_SECONDS = 8;
// A long file on a busy server can take a while; past two minutes the
// request is given up so that the page is never left busy.
const REQUEST_TIMEOUT_MS = 120000;
const DASH = '\u2013';

const $ = (id) => document.getElementById(id);

// ---- Formatting

// "1:23.2" with digits = 1, "3:07" with digits = 0.
function clock(seconds, digits) {
  const scale = 10 ** digits;
  const units = Math.round(Math.abs(seconds) * scale);
  const minutes = Math.floor(units / (60 * scale));
  const rest = ((units % (60 * scale)) / scale).toFixed(digits).padStart(digits ? digits + 3 : 2, '0');
  return `${seconds < 0 ? '-' : ''}${minutes}:${rest}`;
}

const present = (value) => value !== undefined && value !== null && value !== '';
const shown = (value) => (present(value) ? String(value) : DASH);

function speedNote(speed) {
  const percent = Math.round(Math.abs(speed - 1) * 100);
  return `played ${percent}% ${speed > 1 ? 'fast' : 'slow'}`;
}

function element(tag, text, className) {
  const node = document.createElement(tag);
  if (text !== undefined) node.textContent = text;
  if (className) node.className = className;
  return node;
}

// ---- The server

// The JSON answer of a request; throws an Error whose message is the
// server's own ({"error": ...}) or says what went wrong on the way.
async function request(url, options = {}) {
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), REQUEST_TIMEOUT_MS);
  try {
    const response = await fetch(url, { ...options, signal: controller.signal });
    const body = await response.json().catch(() => null);
    if (!response.ok) {
      const told = body && typeof body.error === 'string' && body.error;
      throw new Error(told || `The server answered ${response.status} ${response.statusText}`.trim());
    }
    if (body === null) throw new Error('The server answered something other than JSON.');
    return body;
  } catch (error) {
    if (error.name === 'AbortError') throw new Error('The server took too long to answer.');
    if (error instanceof TypeError) throw new Error('The server could not be reached.');
    throw error;
  } finally {
    clearTimeout(timer);
  }
}

async function loadStats() {
  try {
    const stats = await request('/v1/stats');
    $('stats').textContent = `${stats.tracks} ${stats.tracks === 1 ? 'track' : 'tracks'} in the index`;
  } catch (error) {
    $('stats').textContent = 'Index unavailable';
  }
}

// ---- Identify

let busy = false;
let recording = null; // { recorder, stream, left, timer } while the microphone is on

function setBusy(on, message) {
  busy = on;
  $('file-input').disabled = on || recording !== null;
  $('record').disabled = on;
  $('drop-zone').classList.toggle('busy', on);
  $('drop-zone').setAttribute('aria-busy', String(on));
  $('status').replaceChildren();
  if (message) $('status').append(element('span', undefined, 'spinner'), message);
}

function showError(message) {
  $('result').replaceChildren(element('p', `Error: ${message}`, 'error'));
}

function showAnswer(answer, name) {
  const match = answer.match;
  if (!match) {
    $('result').replaceChildren(element('p', 'No match', 'no-match'),
      element('p', `Nothing in the index sounds like ${name}.`, 'note'));
    return;
  }
  const card = element('article', undefined, 'match');
  const title = present(match.title) ? match.title : (match.path || '').split('/').pop() || `Track ${match.track}`;
  card.append(element('h3', title));
  const facts = document.createElement('dl');
  const fact = (term, value) => facts.append(element('dt', term), element('dd', shown(value)));
  fact('Artist', match.artist);
  fact('Album', match.album);
  fact('Position', `at ${clock(match.offset_seconds, 1)}`);
  fact('Confidence', `${Math.round(match.confidence * 100)}%`);
  if (match.speed !== undefined && match.speed !== 1) fact('Speed', speedNote(match.speed));
  fact('Track', `${match.track}${present(match.path) ? ` \u00b7 ${match.path}` : ''}`);
  card.append(facts);
  $('result').replaceChildren(card);
}

async function identify(blob, name) {
  if (busy) return;
  const focused = document.activeElement; // disabled while busy, it loses the focus
  setBusy(true, `Identifying ${name}\u2026`);
  $('result').replaceChildren();
  try {
    const answer = await request('/v1/identify', {
      method: 'POST',
      headers: { 'Content-Type': blob.type || 'application/octet-stream' },
      body: blob,
    });
    showAnswer(answer, name);
  } catch (error) {
    showError(error.message);
  } finally {
    setBusy(false, '');
    if (document.activeElement === document.body && focused) focused.focus();
  }
}

function identifyChosen() {
  const file = $('file-input').files[0];
  $('file-input').value = ''; // so that choosing the same file again is a change
  if (file) identify(file, file.name);
}

// ---- Recording from the microphone

function showRecording(on) {
  $('record').hidden = on;
  $('stop').hidden = !on;
  $('file-input').disabled = on || busy;
  $(on ? 'stop' : 'record').focus();
}

function tick() {
  recording.left -= 1;
  if (recording.left <= 0) stopRecording();
  else $('status').textContent = `Recording\u2026 ${recording.left} s left`;
}

function stopRecording() {
  if (!recording || recording.recorder.state === 'inactive') return;
  clearInterval(recording.timer);
  recording.recorder.stop();
}

function finishRecording(chunks, type, failure) {
  if (!recording) return; // a failed recorder stops too
  clearInterval(recording.timer);
  recording.stream.getTracks().forEach((track) => track.stop());
  recording = null;
  showRecording(false);
  $('status').textContent = '';
  const blob = new Blob(chunks, { type: type || 'application/octet-stream' });
  if (failure || blob.size === 0) showError(failure || 'Nothing was recorded.');
  else identify(blob, 'the recording');
}

async function startRecording() {
  if (busy || recording) return;
  if (!navigator.mediaDevices || !window.MediaRecorder) {
    showError('This browser cannot record here: recording needs a page served over https or from this machine.');
    return;
  }
  $('result').replaceChildren();
  let stream;
  try {
    // Echo cancelling, noise suppression and gain control would reshape the music.
    stream = await navigator.mediaDevices.getUserMedia({
      audio: { echoCancellation: false, noiseSuppression: false, autoGainControl: false },
    });
  } catch (error) {
    showError(`The microphone could not be opened (${error.message || error.name}).`);
    return;
  }
  const recorder = new MediaRecorder(stream);
  const chunks = [];
  recorder.addEventListener('dataavailable', (event) => event.data.size && chunks.push(event.data));
  recorder.addEventListener('stop', () => finishRecording(chunks, recorder.mimeType));
  recorder.addEventListener('error', (event) =>
    finishRecording([], '', `Recording failed (${event.error ? event.error.message : 'unknown error'}).`));
  recording = { recorder, stream, left: RECORD_SECONDS, timer: setInterval(tick, 1000) };
  recorder.start();
  showRecording(true);
  $('status').textContent = `Recording\u2026 ${RECORD_SECONDS} s left`;
}

// ---- Tracks

let page = { offset: 0, count: 0, total: 0 };

function trackRow(track) {
  const row = document.createElement('tr');
  const duration = typeof track.duration === 'number' ? clock(track.duration, 0) : undefined;
  for (const value of [track.track, track.title, track.artist, track.album, duration, track.path])
    row.append(element('td', shown(value)));
  row.lastChild.className = 'path';
  return row;
}

function showPager() {
  const last = page.offset + page.count;
  $('range').textContent = page.total === 0 ? 'No tracks' : `${page.offset + 1}\u2013${last} of ${page.total}`;
  $('previous').disabled = page.offset === 0;
  $('next').disabled = last >= page.total;
}

async function loadTracks(offset) {
  $('previous').disabled = true;
  $('next').disabled = true;
  $('tracks-status').textContent = 'Loading tracks\u2026';
  try {
    const answer = await request(`/v1/tracks?offset=${offset}&limit=${PAGE_SIZE}`);
    $('track-rows').replaceChildren(...answer.tracks.map(trackRow));
    page = { offset: answer.offset, count: answer.tracks.length, total: answer.total };
    $('tracks-status').textContent = '';
  } catch (error) {
    $('tracks-status').textContent = `Error: ${error.message}`;
  }
  showPager();
}

// ---- Views

function route(moveFocus) {
  const name = location.hash === '#tracks' ? 'tracks' : 'identify';
  for (const view of ['identify', 'tracks']) {
    $(`${view}-view`).hidden = view !== name;
    if (view === name) $(`nav-${view}`).setAttribute('aria-current', 'page');
    else $(`nav-${view}`).removeAttribute('aria-current');
  }
  if (name === 'tracks') loadTracks(page.offset);
  if (moveFocus) $(`${name}-heading`).focus();
  loadStats();
}

function watchDrops() {
  const zone = $('drop-zone');
  zone.addEventListener('dragover', (event) => {
    event.preventDefault();
    zone.classList.add('over');
  });
  zone.addEventListener('dragleave', (event) => {
    if (!zone.contains(event.relatedTarget)) zone.classList.remove('over');
  });
  zone.addEventListener('drop', (event) => {
    event.preventDefault();
    zone.classList.remove('over');
    const file = event.dataTransfer.files[0];
    if (file && !recording) identify(file, file.name);
  });
  // A file dropped beside the zone would otherwise replace the page.
  for (const type of ['dragover', 'drop']) window.addEventListener(type, (event) => event.preventDefault());
}

$('file-input').addEventListener('change', identifyChosen);
$('record').addEventListener('click', startRecording);
$('stop').addEventListener('click', stopRecording);
$('previous').addEventListener('click', () => loadTracks(Math.max(0, page.offset - PAGE_SIZE)));
$('next').addEventListener('click', () => loadTracks(page.offset + PAGE_SIZE));
window.addEventListener('hashchange', () => route(true));
watchDrops();
route(false);
