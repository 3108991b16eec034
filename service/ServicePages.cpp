#include "service/ServicePages.h"

namespace {

constexpr const char *kStyle = R"css(
body { font-family: sans-serif; max-width: 46em; margin: 2em auto; padding: 0 1em; line-height: 1.5; color: #222; }
h1, h2, h3 { line-height: 1.2; }
code, kbd { background: #f2f2f2; padding: 0 .2em; }
nav a { margin-right: 1em; }
dt { font-weight: bold; margin-top: 1em; }
)css";

QByteArray Page(const char *Title, const char *Body) {
    QByteArray html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
                      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
    html += Title;
    html += "</title>\n<style>";
    html += kStyle;
    html += "</style>\n</head>\n<body>\n<nav><a href=\"/\">Relayvane</a><a href=\"/faq.php\">FAQ</a></nav>\n";
    html += Body;
    html += "\n</body>\n</html>\n";
    return html;
}

constexpr const char *kHome = R"html(
<h1>Relayvane</h1>
<p>Relayvane lets you browse the web through a changing HTTP proxy. It lives in the notification
area of your desktop, keeps a catalogue of proxy servers, and runs a small relay proxy on
<code>127.0.0.1:3128</code> that your browsers point at. The relay forwards every request through the
proxy you picked, so you can switch proxies with one click or a hotkey without touching the
browser settings again.</p>

<h2>What it does</h2>
<ul>
<li>Downloads proxy lists from this list service, filtered by country, port, anonymity, HTTPS and
POST support, speed, ping and uptime, or from any web address that serves a plain list.</li>
<li>Keeps your own list of proxies that you type or paste in.</li>
<li>Shows the country of every proxy with its flag, from a built-in address-to-country table.</li>
<li>Tests proxies with a multi-threaded checker: is it alive, how anonymous is it, do POST and
HTTPS work, how fast is it. Every proxy gets a rating from 0 to 5.</li>
<li>Switches proxies by hand, at random, or on a timer, and downloads fresh lists on a timer.</li>
<li>Points Firefox, Opera and the browsers that follow the desktop's proxy settings at the relay,
and puts their settings back when you leave.</li>
<li>Speaks English, Russian, Ukrainian, French, Spanish and German.</li>
</ul>

<h2>This server</h2>
<p>This page is served by <code>relayvane-service</code>, the companion service that you can run on
your own machine or server. It offers the proxy list service the program downloads from, the
country and port choices of the preferences dialog, the update notice, and the proxy judge the
checker uses to tell transparent, anonymous and elite proxies apart. Point the program at it with
the environment variable <code>RELAYVANE_SERVICE</code> (for example
<code>RELAYVANE_SERVICE=http://127.0.0.1:8731</code>, the default).</p>

<p>Something not working? The <a href="/faq.php">FAQ</a> answers what the program's warnings
send you here for.</p>
)html";

constexpr const char *kFaq = R"html(
<h1>Relayvane FAQ</h1>
<p>Each warning of Relayvane links to this page. Find the text of your warning below.</p>

<h2 id="second-copy">"You cannot run two copies of that program."</h2>
<p>Only one Relayvane can run at a time, because every copy would want the relay port
<code>127.0.0.1:3128</code> and the same browser settings. The copy you just started found another one
running and closed itself; the first copy keeps working. Look for its icon in the notification area
(it may sit in the overflow of the panel). If no icon is there, an earlier copy may hang without a
window: end it with <kbd>pkill -x relayvane</kbd> or your system monitor, then start Relayvane again.</p>

<h2 id="browsers">"Program cannot be prepare for Internet Explorer, Google Chrome and Safari!", "... for Firefox!", "... for Opera!"</h2>
<p>To send a browser through the relay, Relayvane writes <code>127.0.0.1:3128</code> into that browser's
proxy settings, and remembers the old settings so that it can put them back when it exits.
This warning means the settings could not be written.</p>
<dl>
<dt>The desktop's proxy settings (used by Chrome, Chromium, Edge and most other browsers)</dt>
<dd>On GNOME the settings live in <code>org.gnome.system.proxy</code>; writing them needs a running
desktop session (dconf through the session bus). On KDE they live in <code>kioslaverc</code>.
On other desktops there is no common place, so set the browser's proxy to
<code>127.0.0.1:3128</code> yourself, or choose only Firefox or Opera in the preferences.</dd>
<dt>Firefox</dt>
<dd>Relayvane edits <code>prefs.js</code> of your default Firefox profile. Firefox rewrites that file
when it exits, so close Firefox before you switch proxying on or off, and check that the profile
folder belongs to you and is writable.</dd>
<dt>Opera</dt>
<dd>Relayvane edits the "Proxy" section of <code>operaprefs.ini</code>. Close Opera first. Newer Opera
versions follow the desktop's proxy settings instead.</dd>
</dl>
<p>When you stop Relayvane, the browser settings it changed are put back. If it was killed, the next
start puts them back.</p>

<h2 id="local-proxy">"Cannot setup local proxy server. Make sure that you entered values in proper format..."</h2>
<p>The local proxy is an HTTP proxy of your own (at work or at your provider) that Relayvane must go
through to reach the proxies of its list. Enter it in the preferences in one of two forms:</p>
<ul>
<li><code>ip:port</code>, for example <code>192.168.1.1:8080</code></li>
<li><code>user:pass@ip:port</code>, for example <code>alice:secret@192.168.1.1:8080</code>, when the proxy
asks for a user name and password</li>
</ul>
<p>Use the address, not a host name, and no <code>http://</code> in front. The gateway proxy is still set
and the relay still runs when this warning appears; only the local proxy is left out.</p>

<h2 id="download">"Cannot download proxy list"</h2>
<p>The list could not be fetched or read. Check, in this order:</p>
<ol>
<li>Is the list service running and reachable? Open its home page in a browser. The program uses
<code>http://127.0.0.1:8731</code> unless the environment variable <code>RELAYVANE_SERVICE</code> names
another address.</li>
<li>If you chose your own list address in the preferences, open it in a browser: it must return
plain text with one <code>ip:port</code> pair per line (other text around them is fine).</li>
<li>A firewall or a captive portal can answer in place of the list service with a page the program
cannot read.</li>
</ol>
<p>When the list service itself has something to say (for example that a filter value is not
known), the program shows the service's own message instead, with a link to this page.
The list may also simply be empty because no stored proxy matches your filters: try "any" for the
country, the port and the type, a lower minimum speed and uptime, or a longer interval.</p>

<h2 id="country-data">"Cannot loading data from server"</h2>
<p>The preferences dialog fetches its country and port choices from the list service. When that
fails, the two lists stay disabled; the next time you open the dialog it tries again. The causes
are the same as for a failed list download above.</p>

<h2 id="restart">"Please restart the program to make changes affect!"</h2>
<p>Some settings take effect at the next start. Choose Exit in the tray menu and start Relayvane
again.</p>

<h2 id="close-browser">"To do this operaton, please close Firefox browser first." / "... Opera browser first."</h2>
<p>Firefox and Opera keep their settings in memory and write them back when they exit, which would
undo Relayvane's change. Close the browser, then repeat what you did.</p>

<h2 id="checker">The proxy checker</h2>
<p>The checker asks a proxy judge (<code>/type.php</code> on this server) what a request through each
proxy looks like: <em>transparent</em> proxies pass your address on, <em>anonymous</em> proxies hide it
but show that a proxy is in the way, <em>elite</em> proxies look like an ordinary visitor. A checker
that cannot reach the judge reports an error for every worker. The judge's address follows
<code>RELAYVANE_JUDGE</code>, or the list service address when that is not set.</p>

<h2 id="updates">Update notices</h2>
<p>Every second day Relayvane asks this service whether a newer version exists and, if so, shows
the service's message with a link. Nothing is downloaded or installed by the program itself.</p>
)html";

} // namespace

QByteArray HomePageHtml() {
    return Page("Relayvane", kHome);
}

QByteArray FaqPageHtml() {
    return Page("Relayvane FAQ", kFaq);
}
