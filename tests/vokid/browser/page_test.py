#!/usr/bin/python3
"""The lookup server's page in headless Chromium against the real server.

Usage: page_test.py VOKID

Builds an index of generated tracks with `vokid add`, starts `vokid serve`
on a free port of 127.0.0.1, and uses the page as a person would: uploads
clips (cut from indexed tracks, one played 3% fast, and noise of no track)
and a file that is not audio, opens the tracks view and pages through it,
and records from Chromium's fake microphone, which plays a clip cut from
another indexed track. The browser's console must
hold no error but the one the refused upload causes. Exits 0 on success,
77 when ffmpeg or the browser is missing, 1 on failure; the server, the
browser and the temporary folder go in every case, and the whole run is
bounded by DEADLINE_SECONDS.
"""
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
DEADLINE_SECONDS = 110
WAIT_SECONDS = 30
CHROMIUM = '/usr/bin/chromium'
CHROMEDRIVER = '/usr/bin/chromedriver'

# Each track: a melody of its own (note length, steps through the scale,
# register) over pink noise of its own seed, 24 s at 44.1 kHz. The first
# title holds markup, which the page must show as text.
TRACKS = [
    {'name': 'first.flac', 'title': '<b>Bold</b> Opening', 'artist': 'The Tones',
     'album': 'Generated', 'step': 0.23, 'notes': 5, 'base': 220, 'seed': 11},
    {'name': 'second.flac', 'title': 'Second Light', 'artist': 'Noise & Sons',
     'album': '', 'step': 0.31, 'notes': 7, 'base': 330, 'seed': 23},
    {'name': 'third.flac', 'title': 'Third Wave', 'artist': '',
     'album': 'Generated', 'step': 0.17, 'notes': 11, 'base': 196, 'seed': 37},
]
TRACK_SECONDS = 24
# The uploads, each cut from a track (None: noise of no track) and
# re-encoded: file, track, where the clip starts in it, its speed. The
# first shows a title that holds markup.
UPLOADS = [
    ('clip.mp3', 0, 8, 1.0),
    ('fast.mp3', 1, 6, 1.03),
    ('stranger.ogg', None, 0, 1.0),
]
MIC_TRACK = 2  # the microphone plays the third track
# Enough short tracks after them for a second page of 50 with one row.
FILLERS = 48
ALL_TRACKS = len(TRACKS) + FILLERS
DASH = '\u2013'


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(args, what):
    done = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          timeout=60)
    check(done.returncode == 0, f'{what} failed ({done.returncode}): {done.stderr.strip()}')
    return done.stdout


def ffmpeg(inputs, options, output):
    run(['ffmpeg', '-nostdin', '-hide_banner', '-loglevel', 'error', '-y'] + inputs + options
        + [output], f'ffmpeg writing {os.path.basename(output)}')


def make_track(folder, track):
    melody = (f"0.5*sin(2*PI*t*{track['base']}*pow(2,mod(floor(t/{track['step']})*{track['notes']},12)/12))"
              f"*exp(-6*mod(t,{track['step']}))")
    tags = []
    for key in ('title', 'artist', 'album'):
        if track[key]:
            tags += ['-metadata', f'{key}={track[key]}']
    ffmpeg(['-f', 'lavfi', '-i', f"aevalsrc='{melody}':s=44100:d={TRACK_SECONDS}",
            '-f', 'lavfi', '-i', f"anoisesrc=c=pink:a=0.15:r=44100:s={track['seed']}:d={TRACK_SECONDS}"],
           ['-filter_complex', 'amix=inputs=2:normalize=0', '-ac', '1'] + tags,
           os.path.join(folder, track['name']))


def filler_name(number):
    return f'filler-{number:02}.wav'


def make_inputs(folder):
    for track in TRACKS:
        make_track(folder, track)
    for name, track, start, speed in UPLOADS:
        source = (['-ss', str(start), '-t', '10', '-i', os.path.join(folder, TRACKS[track]['name'])]
                  if track is not None else ['-f', 'lavfi', '-i', 'anoisesrc=c=brown:r=44100:s=99:d=8'])
        ffmpeg(source, ['-af', f'asetrate=44100*{speed},aresample=44100'], os.path.join(folder, name))
    # Chromium plays this file, again and again, as its fake microphone.
    mic = os.path.join(folder, 'mic.wav')
    ffmpeg(['-ss', '4', '-t', '16', '-i', os.path.join(folder, TRACKS[MIC_TRACK]['name'])],
           ['-c:a', 'pcm_s16le', '-ar', '48000'], mic)
    fillers = []
    for number in range(FILLERS):
        fillers += ['-map', '0', os.path.join(folder, filler_name(number))]
    ffmpeg(['-f', 'lavfi', '-i', 'sine=f=440:r=44100:d=4'], fillers[:-1], fillers[-1])
    text = os.path.join(folder, 'notes.txt')
    with open(text, 'w') as out:
        out.write('These are notes, not audio.\n' * 40)
    return mic, text


def start_server(vokid, index, folder):
    """The server and its URL, read from its first line of output."""
    log = open(os.path.join(folder, 'server.log'), 'w')
    server = subprocess.Popen([vokid, 'serve', index, '--listen', '127.0.0.1:0'],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log, text=True)
    ready, _, _ = select.select([server.stdout], [], [], 20)
    line = server.stdout.readline() if ready else ''
    # Whatever else it prints goes to the log: a full pipe would stop it.
    threading.Thread(target=lambda: log.writelines(server.stdout), daemon=True).start()
    found = re.match(r'listening on (http://[^\s/]+/)', line)
    if not found:
        stop_server(server)
        raise Failure(f'vokid serve did not say where it listens (first line {line!r})')
    return server, found.group(1)


def stop_server(server):
    server.terminate()
    try:
        server.wait(5)
    except subprocess.TimeoutExpired:
        server.kill()
        server.wait()


def start_browser(mic):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ('--headless=new', '--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage',
                 '--use-fake-ui-for-media-stream', '--use-fake-device-for-media-stream',
                 f'--use-file-for-fake-audio-capture={mic}', '--window-size=1200,900'):
        options.add_argument(flag)
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_page_load_timeout(WAIT_SECONDS)
    return driver


def wait_for(driver, condition, what, seconds=WAIT_SECONDS):
    from selenium.webdriver.support.ui import WebDriverWait
    from selenium.common.exceptions import TimeoutException
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.2).until(lambda d: condition(d))
    except TimeoutException:
        raise Failure(f'no {what} after {seconds} s; the page shows: {page_text(driver)!r}') from None


def page_text(driver):
    return driver.find_element('tag name', 'body').text


def answer(driver):
    """The result's element once the page has one (match, no match or error)."""
    found = driver.find_elements('css selector', '#result .match, #result .no-match, #result .error')
    return found[0] if found and not driver.find_element('id', 'record').get_attribute('disabled') else None


def identified_title(driver, what):
    shown = wait_for(driver, answer, f'answer to {what}')
    check('match' in shown.get_attribute('class').split(),
          f'{what} was not identified; the page shows {shown.text!r}')
    return shown, shown.find_element('tag name', 'h3').text


def shows_buttons(driver, record, stop):
    return (driver.find_element('id', 'record').is_displayed() == record
            and driver.find_element('id', 'stop').is_displayed() == stop)


def check_uploads(driver, folder):
    check(shows_buttons(driver, record=True, stop=False), 'Stop is shown before any recording')
    for upload in UPLOADS:
        check_upload(driver, folder, upload)


def check_upload(driver, folder, upload):
    name, track, start, speed = upload
    driver.find_element('id', 'file-input').send_keys(os.path.join(folder, name))
    shown = wait_for(driver, answer, f'answer to {name}')
    if track is None:
        check(shown.text == 'No match', f'{name} was not refused as no match: {shown.text!r}')
        return
    check('match' in shown.get_attribute('class').split(), f'{name} was not identified: {shown.text!r}')
    expected = TRACKS[track]
    title = shown.find_element('tag name', 'h3').text
    check(title == expected['title'], f'{name} was shown as {title!r}, not {expected["title"]!r}')
    facts = dict(zip([e.text for e in shown.find_elements('tag name', 'dt')],
                     [e.text for e in shown.find_elements('tag name', 'dd')]))
    check(facts.get('Artist') == (expected['artist'] or DASH), f'artist shown: {facts.get("Artist")!r}')
    check(facts.get('Album') == (expected['album'] or DASH), f'album shown: {facts.get("Album")!r}')
    position = re.fullmatch(r'at (\d+):(\d\d\.\d)', facts.get('Position', ''))
    check(position, f'position shown: {facts.get("Position")!r}')
    seconds = int(position.group(1)) * 60 + float(position.group(2))
    check(abs(seconds - start) < 0.5, f'{name} was placed at {seconds} s, not {start} s')
    check(re.fullmatch(r'\d{1,3}%', facts.get('Confidence', '')), f'confidence: {facts.get("Confidence")!r}')
    note = f'played {round(abs(speed - 1) * 100)}% {"fast" if speed > 1 else "slow"}' if speed != 1 else None
    check(facts.get('Speed') == note, f'{name} at speed {speed}: speed shown {facts.get("Speed")!r}')


def check_refused_upload(driver, text):
    driver.find_element('id', 'file-input').send_keys(text)
    shown = wait_for(driver, answer, 'answer to the text file')
    check('error' in shown.get_attribute('class').split(),
          f'a text file was not refused; the page shows {shown.text!r}')
    check(len(shown.text) > len('Error: '), 'the error has no message')


def shown_rows(driver, count, first):
    def ready(d):
        rows = d.find_elements('css selector', '#track-rows tr')
        return rows if len(rows) == count and rows[0].text.startswith(f'{first} ') else None
    rows = wait_for(driver, ready, f'{count} rows from track {first} in the tracks view')
    return [[cell.text for cell in row.find_elements('tag name', 'td')] for row in rows]


def check_range(driver, text, previous, following):
    shown = driver.find_element('id', 'range').text
    check(shown == text, f'the count reads {shown!r}, not {text!r}')
    for button, enabled in (('previous', previous), ('next', following)):
        check(driver.find_element('id', button).is_enabled() == enabled,
              f'{button} is {"disabled" if enabled else "enabled"} at {text!r}')


def check_tracks(driver):
    driver.find_element('id', 'nav-tracks').click()
    cells = shown_rows(driver, 50, 1)
    by_title = {row[1]: row for row in cells}
    for track in TRACKS:
        row = by_title.get(track['title'])
        check(row, f'no row titled {track["title"]!r} in {cells}')
        check(row[2:5] == [track['artist'] or DASH, track['album'] or DASH, f'0:{TRACK_SECONDS}'],
              f'row of {track["title"]!r}: {row}')
        check(row[5].endswith('/' + track['name']), f'path of {track["title"]!r}: {row[5]!r}')
    check(driver.find_element('id', 'stats').text == f'{ALL_TRACKS} tracks in the index',
          f'the header reads {driver.find_element("id", "stats").text!r}')
    check_range(driver, f'1{DASH}50 of {ALL_TRACKS}', previous=False, following=True)
    driver.find_element('id', 'next').click()
    last = shown_rows(driver, ALL_TRACKS - 50, 51)
    check(last[0][5].endswith('/' + filler_name(FILLERS - 1)), f'the last page holds {last}')
    check_range(driver, f'51{DASH}{ALL_TRACKS} of {ALL_TRACKS}', previous=True, following=False)
    driver.find_element('id', 'previous').click()
    shown_rows(driver, 50, 1)
    check_range(driver, f'1{DASH}50 of {ALL_TRACKS}', previous=False, following=True)


def check_recording(driver):
    driver.find_element('id', 'nav-identify').click()
    driver.find_element('id', 'record').click()
    wait_for(driver, lambda d: 'left' in d.find_element('id', 'status').text, 'countdown')
    check(shows_buttons(driver, record=False, stop=True), 'Stop is not shown while recording')
    _, title = identified_title(driver, 'the recording')
    expected = TRACKS[MIC_TRACK]['title']
    check(title == expected, f'the recording was shown as {title!r}, not {expected!r}')


def check_console(driver):
    # The refused upload's answer (4xx) is the one error the console may hold.
    errors = [entry['message'] for entry in driver.get_log('browser')
              if entry['level'] == 'SEVERE'
              and not re.search(r'/v1/identify - Failed to load resource: .* status of 4\d\d', entry['message'])]
    check(not errors, f'the browser console holds errors: {errors}')


def prerequisites():
    missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not os.access(path, os.X_OK)]
    if not shutil.which('ffmpeg'):
        missing.append('ffmpeg')
    try:
        import selenium  # noqa: F401
    except ImportError:
        missing.append('selenium for this python (python3-selenium)')
    return missing


def run_page(vokid, folder):
    mic, text = make_inputs(folder)
    index = os.path.join(folder, 'index')
    # The tracks first, so that they have the first ids and the first page.
    run([vokid, 'add', index] + [os.path.join(folder, t['name']) for t in TRACKS], 'vokid add')
    run([vokid, 'add', index] + [os.path.join(folder, filler_name(n)) for n in range(FILLERS)],
        'vokid add (fillers)')
    server, url = start_server(vokid, index, folder)
    driver = None
    try:
        driver = start_browser(mic)
        driver.get(url)
        wait_for(driver, lambda d: d.find_element('id', 'stats').text.startswith(str(ALL_TRACKS)),
                 'track count in the header')
        for step in (lambda: check_uploads(driver, folder), lambda: check_refused_upload(driver, text),
                     lambda: check_tracks(driver), lambda: check_recording(driver),
                     lambda: check_console(driver)):
            step()
    finally:
        if driver:
            driver.quit()
        stop_server(server)


def print_server_log(folder):
    try:
        with open(os.path.join(folder, 'server.log')) as log:
            print('vokid serve said:\n' + log.read()[-4000:], file=sys.stderr)
    except OSError:
        pass


def on_deadline(signum, frame):
    raise Failure(f'the test took more than {DEADLINE_SECONDS} s')


def main():
    if len(sys.argv) != 2:
        print('usage: page_test.py VOKID', file=sys.stderr)
        return 2
    missing = prerequisites()
    if missing:
        print(f'skipped: not installed: {", ".join(missing)}')
        return SKIP
    signal.signal(signal.SIGALRM, on_deadline)
    signal.alarm(DEADLINE_SECONDS)
    folder = tempfile.mkdtemp(prefix='vokid-page-')
    started = time.monotonic()
    try:
        run_page(os.path.abspath(sys.argv[1]), folder)
    except Exception as failure:  # a WebDriver error as much as a failed check
        print(f'FAILED: {failure}', file=sys.stderr)
        print_server_log(folder)
        return 1
    finally:
        signal.alarm(0)
        shutil.rmtree(folder, ignore_errors=True)
    print(f'page test passed in {time.monotonic() - started:.1f} s')
    return 0


if __name__ == '__main__':
    sys.exit(main())
