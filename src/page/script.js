(function(){
  'use strict';
  // Read once from the page's address: hub name, node and id to pass on, then the password.
  var q=new URLSearchParams(location.search),store=window.localStorage,root=document.documentElement;
  var HUB=q.get('plugin')||'',node=q.get('node')||'',sid=q.get('id')||'';
  var pwd=q.get('pwd')||(node&&store.getItem('bot_pwd_'+node))||store.getItem('bot_active_pwd')||'';

  function $(id){return document.getElementById(id);}
  function blank(v){return v===undefined||v===null||v==='';}
  function set(id,v){var e=$(id);if(e)e.textContent=blank(v)?'\u2014':String(v);}
  function badge(text,colour){var b=$('badge');if(b){b.textContent=text;b.style.color=colour;}}
  function pretty(d){return JSON.stringify(d,null,2);}

  // Asks the plugin through the host: the hub route when the page came through the hub, the
  // direct route otherwise. Any answer whose body parses as JSON counts, whatever its status.
  function api(action,extra){
    var url=(HUB?'/plugins?plugin='+HUB+'&action=':'/plugin_@PLUGIN_NAME@?action=')+encodeURIComponent(action);
    if(extra)url+=extra;
    if(node)url+='&node='+encodeURIComponent(node);
    if(sid)url+='&id='+encodeURIComponent(sid);
    if(pwd)url+='&pwd='+encodeURIComponent(pwd);
    return fetch(url,pwd?{headers:{'X-Bot-Password':pwd}}:undefined).then(function(r){return r.json();});
  }

  function refresh(){
    api('info').then(function(d){
      var n=d.node||{};
      set('v-host',n.hostname);
      set('v-os',(blank(n.os)?'?':n.os)+' / '+(blank(n.arch)?'?':n.arch));
      set('v-libc',n.libc);
      set('v-pid',n.pid);
      set('v-utc',n.utc);
      badge('live','var(--accent2)');
      set('raw',pretty(d));
    }).catch(function(e){
      badge('offline','var(--danger)');
      set('raw','error: '+e);
    });
  }

  function sendEcho(){
    var m=$('msg');
    api('echo','&msg='+encodeURIComponent(m?m.value:'')).then(function(d){
      set('echoOut',pretty(d));
    }).catch(function(e){
      set('echoOut','error: '+e);
    });
  }

  function applyTheme(t){root.setAttribute('data-theme',t==='light'?'light':'dark');}

  // A stored choice wins; without one the system's preference decides at each load.
  applyTheme(store.getItem('bot_theme')||
    (window.matchMedia&&matchMedia('(prefers-color-scheme: light)').matches?'light':'dark'));

  $('themeBtn').addEventListener('click',function(){
    var t=root.getAttribute('data-theme')==='light'?'dark':'light';
    applyTheme(t);
    store.setItem('bot_theme',t);
  });
  $('reloadBtn').addEventListener('click',function(){refresh();});
  $('echoBtn').addEventListener('click',function(){sendEcho();});
  $('msg').addEventListener('keydown',function(e){if(e.key==='Enter')sendEcho();});
  refresh();
})();
