/* The viewer's style sheet: tokens, components, narrow screens, embedding, reduced motion. */
#include "page.h"

/* Written twice: once for the explicit light theme, once for a light system preference
 * when no script has chosen the theme. */
#define LIGHT_TOKENS \
	"--bg:#f5f5f7;--bg-2:#ffffff;--bg-card:#ffffff;--surface-2:rgba(0,0,0,.04);" \
	"--surface-hover:#ffffff;--line:rgba(0,0,0,.06);--line-2:rgba(0,0,0,.12);" \
	"--border:rgba(0,0,0,.06);--text:#1d1d1f;--text-2:#6e6e73;--dim:#6e6e73;" \
	"--blue:#007aff;--green:#34c759;--orange:#ff9500;--red:#ff3b30;--gray:#8e8e93;" \
	"--indigo:#5856d6;--teal:#32ade6;--purple:#af52de;--yellow:#b8860b;" \
	"--input-bg:#f5f5f7;--modal-bg:#ffffff;--menu-bg:#ffffff;--code-bg:rgba(0,0,0,.05);" \
	"--shadow:0 2px 10px rgba(0,0,0,.03);" \
	"--shadow-lg:0 30px 80px rgba(0,0,0,.18),0 0 0 1px rgba(0,0,0,.04);" \
	"--accent-dim:#0066d6;color-scheme:light"

const char page_style[] =
	/* Dark tokens are the defaults; the aliases follow whichever value their token has. */
	":root{--bg:#000000;--bg-2:#08080a;--bg-card:#1c1c1e;--surface-2:rgba(255,255,255,.06);"
	"--surface-hover:rgba(255,255,255,.05);--line:rgba(255,255,255,.08);"
	"--line-2:rgba(255,255,255,.16);--border:rgba(255,255,255,.08);--text:#f5f5f7;"
	"--text-2:#86868b;--dim:#86868b;--blue:#0a84ff;--green:#30d158;--orange:#ff9f0a;"
	"--red:#ff453a;--gray:#8e8e93;--indigo:#5e5ce6;--teal:#64d2ff;--purple:#bf5af2;"
	"--yellow:#ffd60a;--input-bg:rgba(255,255,255,.04);--modal-bg:#1c1c1e;--menu-bg:#1c1c1e;"
	"--code-bg:rgba(255,255,255,.06);"
	"--mono:'SF Mono',ui-monospace,Menlo,Consolas,'DejaVu Sans Mono',monospace;"
	"--font:-apple-system,BlinkMacSystemFont,'SF Pro Display','SF Pro Text','Inter',"
	"'Segoe UI',Roboto,Helvetica,Arial,sans-serif;"
	"--shadow:0 1px 2px rgba(0,0,0,.35);"
	"--shadow-lg:0 30px 80px rgba(0,0,0,.65),0 0 0 1px rgba(255,255,255,.04);"
	"--ease:cubic-bezier(.16,1,.3,1);"
	"--surface:var(--bg-card);--surface2:var(--surface-2);--muted:var(--text-2);"
	"--accent:var(--blue);--accent2:var(--green);--accent-dim:#0071e3;--danger:var(--red);"
	"--err:var(--red);--warn:var(--orange);--ok:var(--green);color-scheme:dark}"
	":root[data-theme='dark']{color-scheme:dark}"
	":root[data-theme='light']{" LIGHT_TOKENS "}"
	"@media (prefers-color-scheme: light){:root:not([data-theme='dark']){" LIGHT_TOKENS "}}"

	/* Components. */
	"*,*::before,*::after{box-sizing:border-box}"
	"html,body{height:100%}"
	"body{margin:0;padding:14px;background:var(--bg);color:var(--text);font-family:var(--font);"
	"font-size:13px;line-height:1.5;-webkit-font-smoothing:antialiased;"
	"-moz-osx-font-smoothing:grayscale}"
	/* The page container only: the log area also takes the class wrap when rows wrap. */
	"body>.wrap{display:flex;flex-direction:column;max-width:1280px;margin:0 auto;gap:12px;"
	"min-height:100%}"
	".top{display:flex;align-items:center;gap:10px;flex-wrap:wrap}"
	".title{font-size:19px;font-weight:700;margin:0;letter-spacing:-0.01em}"
	".sub{color:var(--muted);font-size:12px;font-family:var(--mono);white-space:nowrap;"
	"overflow:hidden;text-overflow:ellipsis;max-width:46ch}"
	".spacer{flex:1}"
	".pill{font-size:11px;font-weight:600;padding:2px 9px;border-radius:999px;"
	"background:var(--surface2);color:var(--muted);border:1px solid var(--line);"
	"white-space:nowrap}"
	".pill.live{color:var(--ok);border-color:rgba(48,209,88,.4)}"
	".pill.paused{color:var(--warn);border-color:rgba(255,214,10,.4)}"
	"a{color:var(--blue);text-decoration:none;font-weight:600}"
	"select,input,button{font-family:inherit;font-size:13px;color:var(--text)}"
	"select,input{background:var(--input-bg);border:1px solid var(--line);border-radius:9px;"
	"padding:7px 11px;min-width:0}"
	"select{max-width:100%}"
	"select option{background:var(--menu-bg);color:var(--text)}"
	"input[type='text']{flex:1;min-width:120px;font-family:var(--mono);font-size:12px}"
	"input:focus,select:focus{outline:2px solid var(--accent);outline-offset:-1px}"
	"button{background:var(--accent);color:#fff;border:0;border-radius:999px;padding:7px 14px;"
	"font-weight:600;cursor:pointer;white-space:nowrap;letter-spacing:inherit}"
	"button:active{transform:scale(.98)}"
	"button.ghost{background:transparent;color:var(--text);border:1px solid var(--line)}"
	"button.on{background:var(--accent);color:#fff;border-color:transparent}"
	"button.sm{padding:5px 11px;font-size:12px}"
	".seg{display:inline-flex;gap:3px;background:var(--surface2);border:1px solid var(--line);"
	"border-radius:999px;padding:3px;white-space:nowrap}"
	".seg button{background:transparent;color:var(--muted);border:0;padding:4px 10px;"
	"font-size:12px}"
	".seg button.on{background:var(--accent);color:#fff}"
	".panel{background:var(--surface);border:1px solid var(--line);border-radius:14px;"
	"display:flex;flex-direction:column;min-height:0;flex:1;overflow:hidden}"
	".loghead{display:flex;gap:8px;align-items:center;flex-wrap:wrap;padding:10px 12px;"
	"border-bottom:1px solid var(--line)}"
	".log{flex:1;overflow:auto;padding:6px 0;min-height:260px;max-height:calc(100vh - 260px);"
	"font-family:var(--mono);font-size:12px;line-height:1.55}"
	".log.wrap .tx{white-space:pre-wrap;word-break:break-word}"
	".ln{display:grid;grid-template-columns:112px minmax(0,1fr) 132px;gap:10px;"
	"padding:3px 12px;border-left:3px solid transparent;align-items:baseline}"
	".ln:hover{background:var(--surface-hover)}"
	".ln .ts{color:var(--muted);font-size:11px;white-space:nowrap;overflow:hidden;"
	"text-overflow:ellipsis}"
	".ln .un{color:var(--muted);font-size:11px;white-space:nowrap;overflow:hidden;"
	"text-overflow:ellipsis;text-align:right}"
	".ln .tx{white-space:nowrap;overflow:hidden;text-overflow:ellipsis;min-width:0}"
	".ln.err{border-left-color:var(--red)}"
	".ln.err .tx{color:var(--red)}"
	".ln.warn{border-left-color:var(--warn)}"
	".ln.warn .tx{color:var(--warn)}"
	".ln.info{border-left-color:transparent}"
	".ln mark{background:rgba(255,214,10,.28);color:inherit;border-radius:3px;padding:0 1px}"
	".empty{color:var(--muted);padding:24px 14px;text-align:center;font-size:13px;"
	"font-family:var(--font)}"
	".foot{display:flex;gap:10px;align-items:center;flex-wrap:wrap;padding:8px 12px;"
	"border-top:1px solid var(--line);color:var(--muted);font-size:11px;"
	"font-family:var(--mono)}"
	".muted{color:var(--muted)}"

	/* Narrow screens. */
	"@media (max-width:760px){.ln{grid-template-columns:96px minmax(0,1fr);gap:8px}"
	".ln .un{display:none}.log{max-height:calc(100vh - 330px)}#q{flex-basis:100%}}"
	"@media (max-width:480px){body{padding:10px}.title{font-size:17px}.sub{max-width:26ch}"
	".seg button{padding:4px 8px}}"

	/* The host owns the theme when the page is framed. */
	".embedded .embed-hide{display:none!important}"
	"@media (prefers-reduced-motion: reduce){*,*::before,*::after{animation:none!important;"
	"transition:none!important}}";
