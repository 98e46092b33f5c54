(function(){
'use strict';
var P=new URLSearchParams(location.search);
var HUB=P.get('plugin')||'',node=P.get('node')||'',sid=P.get('id')||'';
function stored(k){try{return localStorage.getItem(k)||''}catch(e){return ''}}
var pwd=P.get('pwd')||(node?stored('zun_pwd_'+node):'')||stored('zun_active_pwd')||'';
var SRC='',LINES=200,FOLLOW=true,TIMER=null,BUSY=false,LAST=[],QUERY='',MODE='tail',COPY_T=null;
function $(id){return document.getElementById(id)}
var sel=$('srcSel'),logEl=$('log'),pill=$('pState'),fCount=$('fCount'),fNote=$('fNote'),qIn=$('q');
function url(q){var u=(HUB?'/plugins?plugin='+HUB:'/plugin_logs')+'?'+q;if(node)u+='&node='+encodeURIComponent(node);if(sid)u+='&id='+encodeURIComponent(sid);if(pwd)u+='&pwd='+encodeURIComponent(pwd);return u}
function api(q){var h={};if(pwd)h['X-Zun-Password']=pwd;return fetch(url(q),{cache:'no-store',headers:h}).then(function(r){return r.json()})}
function failed(d){return d===null||typeof d!=='object'||d.ok===false}
function setPill(t,c){pill.textContent=t;pill.className='pill '+c}
function startNotice(t){var e=$('empty');if(e)e.textContent=t}
function showNotice(t){logEl.textContent='';var e=document.createElement('div');e.className='empty';e.textContent=t;logEl.appendChild(e)}
function humanSize(n){if(!n)return '';var u=['B','KB','MB','GB'],i=0;while(n>=1024&&i<u.length-1){n/=1024;i++}return (i?n.toFixed(1):String(n))+' '+u[i]}
function loadSources(){return api('action=sources').then(function(d){
while(sel.firstChild)sel.removeChild(sel.firstChild);
if(failed(d)){startNotice('Could not list sources.');return}
var list=Array.isArray(d.sources)?d.sources:[];
[['journal','Journal'],['file','Log files'],['event','Event logs']].forEach(function(g){var og=document.createElement('optgroup');og.label=g[1];list.forEach(function(s){if(s.kind!==g[0])return;var o=document.createElement('option');o.value=s.id;o.textContent=s.label+(s.size?'  ('+humanSize(s.size)+')':'');og.appendChild(o)});if(og.childNodes.length)sel.appendChild(og)});
if(d.truncated===true)fNote.textContent='source list truncated \u00b7 local read only';
var want=SRC||(list.length?list[0].id:'');
if(want){sel.value=want;SRC=want}
if(!list.length)startNotice('No readable log sources on this node.');
}).catch(function(e){startNotice('Request failed: '+(e&&e.message?e.message:String(e)))})}
function span(c,t){var s=document.createElement('span');s.className=c;s.textContent=t==null?'':String(t);return s}
function fold(t){return t.replace(/[A-Z]/g,function(c){return c.toLowerCase()})}
function marks(el,t,h){var lo=fold(t),i=0,j;while((j=lo.indexOf(h,i))>=0){if(j>i)el.appendChild(document.createTextNode(t.slice(i,j)));var m=document.createElement('mark');m.textContent=t.slice(j,j+h.length);el.appendChild(m);i=j+h.length}if(i<t.length)el.appendChild(document.createTextNode(t.slice(i)))}
function renderRows(rows,hl){
logEl.textContent='';
if(!rows.length){showNotice(MODE==='search'?'No matches in the scanned window.':'This source produced no entries.');fCount.textContent='0 entries';return}
var f=document.createDocumentFragment(),h=fold(hl||'');
rows.forEach(function(r){var ln=document.createElement('div');ln.className='ln '+(r.sev||'info');ln.appendChild(span('ts',r.ts));var tx=span('tx',h?'':r.text);if(h)marks(tx,r.text==null?'':String(r.text),h);ln.appendChild(tx);ln.appendChild(span('un',r.unit));f.appendChild(ln)});
logEl.appendChild(f);fCount.textContent=rows.length+' entries'}
function atBottom(){return logEl.scrollTop+logEl.clientHeight>=logEl.scrollHeight-24}
function tail(){if(!SRC)return Promise.resolve();var bottom=atBottom();
return api('action=tail&lines='+LINES+'&src='+encodeURIComponent(SRC)).then(function(d){
if(failed(d)){setPill('error','paused');showNotice(d&&d.message?d.message:'unreadable source');fCount.textContent='0 entries';return}
MODE='tail';LAST=Array.isArray(d.entries)?d.entries:[];$('pSrc').textContent=d.label||d.src||'';renderRows(LAST,'');
if(bottom)logEl.scrollTop=logEl.scrollHeight;
setPill(FOLLOW?'live 3s':'paused',FOLLOW?'live':'paused')
},function(){setPill('offline','paused');fNote.textContent='request failed'})}
function search(){if(!SRC||!QUERY)return tail();
return api('action=search&src='+encodeURIComponent(SRC)+'&q='+encodeURIComponent(QUERY)).then(function(d){
if(failed(d)){showNotice(d&&(d.message||d.error)||'search failed');return}
MODE='search';LAST=Array.isArray(d.hits)?d.hits:[];renderRows(LAST,QUERY);
fCount.textContent=LAST.length+' hits of '+(d.scanned||0)+' scanned'+(d.truncated===true?' (capped)':'');setPill('search','paused')
},function(){fNote.textContent='search failed'})}
function tick(){if(BUSY)return;BUSY=true;var done=function(){BUSY=false};tail().then(done,done)}
function schedule(){if(TIMER){clearInterval(TIMER);TIMER=null}
if(FOLLOW&&MODE==='tail'&&document.visibilityState==='visible'){TIMER=setInterval(tick,3000);setPill('live 3s','live')}
else setPill(MODE==='search'?'search':'paused','paused')}
function refresh(){if(MODE==='search'&&QUERY)search();else tail();schedule()}
function copy(){var b=$('btnCopy');
var text=LAST.map(function(r){return (r.ts?r.ts+' ':'')+(r.unit?r.unit+': ':'')+(r.text==null?'':String(r.text))}).join('\n');
function show(t){b.textContent=t;if(COPY_T)clearTimeout(COPY_T);COPY_T=setTimeout(function(){b.textContent='Copy';COPY_T=null},1400)}
if(navigator.clipboard&&navigator.clipboard.writeText){navigator.clipboard.writeText(text).then(function(){show('Copied')},function(){show('Copy failed')});return}
var ta=document.createElement('textarea'),ok=false;ta.value=text;document.body.appendChild(ta);ta.select();
try{ok=document.execCommand('copy')}catch(e){ok=false}
show(ok?'Copied':'Copy failed');document.body.removeChild(ta)}
function doSearch(){QUERY=qIn.value.trim();if(!QUERY){MODE='tail';tail();schedule()}else{MODE='search';search();schedule()}}
sel.addEventListener('change',function(){SRC=sel.value;MODE='tail';QUERY='';qIn.value='';refresh()});
$('segLines').addEventListener('click',function(e){var b=e.target.closest('button');if(!b)return;
Array.prototype.forEach.call(this.querySelectorAll('button'),function(x){x.classList.toggle('on',x===b)});
LINES=parseInt(b.getAttribute('data-n'),10)||200;refresh()});
$('btnFollow').addEventListener('click',function(){FOLLOW=!FOLLOW;this.classList.toggle('on',FOLLOW);this.textContent=FOLLOW?'Follow':'Paused';if(FOLLOW&&MODE==='search')MODE='tail';refresh()});
$('btnSearch').addEventListener('click',doSearch);
qIn.addEventListener('keydown',function(e){if(e.key==='Enter')doSearch()});
$('btnWrap').addEventListener('click',function(){this.classList.toggle('on',logEl.classList.toggle('wrap'))});
$('btnCopy').addEventListener('click',copy);
$('btnReload').addEventListener('click',function(){loadSources().then(refresh)});
$('btnTheme').addEventListener('click',function(){if(typeof window.wqApplyTheme!=='function')return;window.wqApplyTheme(window.wqTheme()==='dark'?'light':'dark')});
document.addEventListener('visibilitychange',function(){if(document.visibilityState==='visible')refresh();else schedule()});
loadSources().then(refresh);
})();
