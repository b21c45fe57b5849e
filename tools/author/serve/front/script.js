(function(){
  // Node passwords are stored where plugin pages look for them: "bot_active_pwd", and
  // "bot_pwd_" + node when a node name is given; that name is remembered under "bot_active_node"
  // and given to the embedded pages in their address. A page load from a frame carries no
  // password header, so when the server requires a password (data-locked) the embedded pages also
  // get it as "pwd" in their address, where the plugin's gate accepts it.
  var s=localStorage,locked=document.body.getAttribute('data-locked')==='1';
  var node=document.getElementById('node'),pwd=document.getElementById('pwd'),note=document.getElementById('note');
  function stored(){
    var n=s.getItem('bot_active_node')||'';
    return {node:n,pwd:(n&&s.getItem('bot_pwd_'+n))||s.getItem('bot_active_pwd')||''};
  }
  function frames(){
    var c=stored();
    document.querySelectorAll('iframe[data-src]').forEach(function(f){
      f.src=f.getAttribute('data-src')+(c.node?'&node='+encodeURIComponent(c.node):'')+
        (locked&&c.pwd?'&pwd='+encodeURIComponent(c.pwd):'');
    });
  }
  var c=stored();
  node.value=c.node;pwd.value=c.pwd;
  document.getElementById('save').addEventListener('click',function(){
    var n=node.value.trim(),p=pwd.value;
    if(n){s.setItem('bot_active_node',n);s.setItem('bot_pwd_'+n,p);}else{s.removeItem('bot_active_node');}
    s.setItem('bot_active_pwd',p);
    note.textContent=p?'Password stored'+(n?' for node '+n:'')+'.':'Password cleared.';
    frames();
  });
  document.getElementById('forget').addEventListener('click',function(){
    var n=s.getItem('bot_active_node');
    if(n)s.removeItem('bot_pwd_'+n);
    s.removeItem('bot_active_pwd');s.removeItem('bot_active_node');
    node.value='';pwd.value='';note.textContent='Stored passwords removed.';
    frames();
  });
  frames();
  // While the server rebuilds on save (data-build, the build it served), reload on a new one.
  var build=document.body.getAttribute('data-build');
  if(build&&window.EventSource){
    new EventSource('@EVENTS@').onmessage=function(e){if(e.data!==build)location.reload();};
  }
})();
